// qzarc on a terminal (Linux, through a pseudo-terminal): the password is
// read without echo and asked again after a wrong one; a missing volume is
// asked for and found where the user says; existing files are asked about;
// and the progress line shows. The runs without a terminal (the other tests)
// must do none of this.
#if !defined(_WIN32)

#include <gtest/gtest.h>

#include <chrono>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "cli_harness.h"

namespace {

namespace fs = std::filesystem;
using qzt::TempDir;

// qzarc with a pseudo-terminal as its standard input, output and error.
class Terminal {
public:
    Terminal(const std::vector<std::string> &args, const fs::path &cwd) {
        std::vector<std::string> argv = {qzct::QzarcProgram().string()};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = forkpty(&fd_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            std::vector<char *> raw;
            for (std::string &a : argv)
                raw.push_back(a.data());
            raw.push_back(nullptr);
            if (chdir(cwd.c_str()) == 0)
                execv(raw[0], raw.data());
            _exit(127);
        }
    }

    ~Terminal() {
        if (pid_ > 0 && !finished_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0)
            close(fd_);
    }

    bool started() const { return pid_ > 0; }
    void Signal(int signal) { kill(pid_, signal); }
    // Whether the terminal echoes what is typed.
    bool Echoing() const {
        struct termios settings;
        return tcgetattr(fd_, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    }

    // Reads until the output (since the last call) contains text.
    bool WaitFor(const std::string &text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (output.find(text, seen_) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || !ReadSome(200))
                return false;
        }
        seen_ = output.find(text, seen_) + text.size();
        return true;
    }

    void Type(const std::string &text) { ASSERT_EQ(write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size())); }

    // Reads the rest of the output and returns the exit status (-1: the
    // program did not end by itself).
    int Finish() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool ended = false;
        while (!ended && std::chrono::steady_clock::now() < deadline)
            ended = !ReadSome(200);
        if (!ended)
            kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        finished_ = true;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string output;

private:
    // False once the program has closed the terminal (it has ended).
    bool ReadSome(int timeoutMs) {
        struct pollfd p = {fd_, POLLIN, 0};
        const int ready = poll(&p, 1, timeoutMs);
        if (ready == 0)
            return true;  // nothing yet
        char buffer[4096];
        const ssize_t n = ready > 0 ? read(fd_, buffer, sizeof buffer) : -1;
        if (n <= 0)
            return false;
        output.append(buffer, static_cast<size_t>(n));
        return true;
    }

    int fd_ = -1;
    pid_t pid_ = -1;
    bool finished_ = false;
    size_t seen_ = 0;
};

class CliTerminal : public ::testing::Test {
protected:
    void SetUp() override { sample_ = qzct::CopySample(dir_.path()); }

    TempDir dir_;
    fs::path sample_;
};

TEST_F(CliTerminal, PasswordIsReadWithoutEchoAndAskedAgainAfterAWrongOne) {
    Terminal t({"x", sample_.string(), "-o", "out"}, dir_.path());
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(t.WaitFor("Password for ")) << t.output;
    t.Type("not-it\n");
    ASSERT_TRUE(t.WaitFor("Wrong password for private\\plan.txt")) << t.output;
    t.Type(std::string(qzct::kSamplePassword) + "\n");
    EXPECT_EQ(t.Finish(), 0) << t.output;
    EXPECT_EQ(t.output.find("not-it"), std::string::npos) << "the password was echoed";
    EXPECT_EQ(t.output.find(qzct::kSamplePassword), std::string::npos) << "the password was echoed";
    EXPECT_TRUE(qzt::ReadBytes(dir_.path() / "out" / "private" / "plan.txt") ==
                qzt::ReadBytes(fs::path(QZARC_SOURCE_DIR) / "examples/sample-data/tree/private/plan.txt"));
    // The progress line: entry n/N and name, redrawn in place.
    EXPECT_NE(t.output.find("\r[4/5] data\\log.csv"), std::string::npos) << t.output;
}

TEST_F(CliTerminal, MissingVolumeIsAskedForUntilFoundOrGivenUp) {
    const fs::path elsewhere = dir_.path() / "moved.bin";
    fs::rename(dir_.path() / "sample.001", elsewhere);

    {
        SCOPED_TRACE("found where the user says, after a wrong answer");
        Terminal t({"x", sample_.string(), "-o", "out", "-p", qzct::kSamplePassword}, dir_.path());
        ASSERT_TRUE(t.WaitFor("sample.001 is not there")) << t.output;
        t.Type("nowhere.bin\n");
        ASSERT_TRUE(t.WaitFor("nowhere.bin is not there")) << t.output;
        // Files that cannot be a volume are refused with the reason, and asked again.
        t.Type(dir_.path().string() + "\n");
        ASSERT_TRUE(t.WaitFor("is a directory; give the volume's file")) << t.output;
        ASSERT_TRUE(t.WaitFor("Enter the path")) << t.output;
        t.Type(sample_.string() + "\n");
        ASSERT_TRUE(t.WaitFor("is the archive's first volume")) << t.output;
        ASSERT_TRUE(t.WaitFor("Enter the path")) << t.output;
        t.Type(elsewhere.string() + "\n");
        EXPECT_EQ(t.Finish(), 0) << t.output;
        EXPECT_TRUE(fs::is_regular_file(dir_.path() / "out" / "private" / "plan.txt"));
    }
    {
        SCOPED_TRACE("given up with an empty line");
        Terminal t({"t", sample_.string(), "-p", qzct::kSamplePassword}, dir_.path());
        ASSERT_TRUE(t.WaitFor("sample.001 is not there")) << t.output;
        t.Type("\n");
        EXPECT_EQ(t.Finish(), 1) << t.output;
        EXPECT_NE(t.output.find("OK      docs\\format.txt"), std::string::npos) << t.output;
        EXPECT_NE(t.output.find("FAILED  docs\\history\\notes.txt: missing volume"), std::string::npos)
            << t.output;
    }
}

TEST_F(CliTerminal, ExistingFilesAreAskedAbout) {
    const fs::path out = dir_.path() / "out";
    ASSERT_EQ(qzct::Qzarc({"x", sample_.string(), "-o", out.string(), "-p", qzct::kSamplePassword}).status, 0);
    qzct::WriteBytes(out / "README.txt", {'o', 'l', 'd'});
    qzct::WriteBytes(out / "docs" / "format.txt", {'o', 'l', 'd'});

    Terminal t({"x", sample_.string(), "-o", "out", "-p", qzct::kSamplePassword, "README.txt", "docs/*"},
               dir_.path());
    ASSERT_TRUE(t.WaitFor("README.txt exists. Replace it?")) << t.output;
    t.Type("n\n");
    ASSERT_TRUE(t.WaitFor("format.txt exists. Replace it?")) << t.output;
    t.Type("A\n");  // this one and all others
    EXPECT_EQ(t.Finish(), 0) << t.output;
    EXPECT_TRUE(qzt::ReadBytes(out / "README.txt") == (qzw::Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(fs::file_size(out / "docs" / "format.txt"), 1126u);
}

// Names below root that a stopped command must not leave: its temporary files.
std::vector<std::string> Debris(const fs::path &root) {
    std::vector<std::string> found;
    for (const std::string &path : qzct::TreeListing(root)) {
        if (path.find(".qzarc-") != std::string::npos)
            found.push_back(path);
    }
    return found;
}

// Waits until `found` says yes, for up to 30 s, checking every millisecond.
template <typename Found>
bool Await(Found found) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!found()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST_F(CliTerminal, InterruptRemovesUnfinishedFilesKeepsFinishedOnesAndExitsWith130) {
    // A stored entry large enough to be caught while it is being written:
    // the program is stopped there, then interrupted.
    constexpr size_t kBig = 96u << 20;
    const fs::path in = dir_.path() / "in";
    qzct::WriteBytes(in / "first.txt", qzt::MakeData(1000, 't', 1));
    qzct::WriteBytes(in / "big.bin", qzt::MakeData(kBig, 'r', 2));
    ASSERT_EQ(qzct::Qzarc({"a", "big.qza", "-m", "store", "first.txt", "big.bin"}, in).status, 0);
    const std::string archive = (in / "big.qza").string();
    auto interruptWhen = [](Terminal &t, auto caught, int signal) {
        ASSERT_TRUE(Await(caught));
        t.Signal(SIGSTOP);
        t.Signal(signal);
        t.Signal(SIGCONT);
    };
    {
        SCOPED_TRACE("x into a fresh directory");
        const fs::path out = dir_.path() / "out";
        Terminal t({"x", archive, "-o", out.string(), "-T", "1"}, dir_.path());
        interruptWhen(t, [&] { return qzt::Exists(out / "big.bin"); }, SIGINT);
        EXPECT_EQ(t.Finish(), 130) << t.output;
        EXPECT_NE(t.output.find("interrupted; 1 of 2 entries extracted into "), std::string::npos)
            << t.output;
        EXPECT_NE(t.output.find("the unfinished one was removed"), std::string::npos) << t.output;
        EXPECT_EQ(qzct::TreeListing(out), std::vector<std::string>{"first.txt"});
    }
    {
        SCOPED_TRACE("x -y over an existing file");
        const fs::path out = dir_.path() / "again";
        qzct::WriteBytes(out / "big.bin", {'o', 'l', 'd'});
        Terminal t({"x", archive, "-o", out.string(), "-y", "-T", "1"}, dir_.path());
        interruptWhen(t, [&] { return !Debris(out).empty(); }, SIGTERM);
        EXPECT_EQ(t.Finish(), 130) << t.output;
        EXPECT_TRUE(qzt::ReadBytes(out / "big.bin") == (qzw::Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(qzct::TreeListing(out), (std::vector<std::string>{"big.bin", "first.txt"}));
    }
    {
        SCOPED_TRACE("t at the password prompt: nothing written anywhere");
        const fs::path tmp = dir_.path() / "tmp";
        fs::create_directories(tmp);
        qzct::ScopedEnvironment tmpdir("TMPDIR", tmp.string());
        Terminal t({"t", sample_.string(), "-T", "3"}, dir_.path());
        ASSERT_TRUE(t.WaitFor("Password for ")) << t.output;
        t.Signal(SIGINT);
        EXPECT_EQ(t.Finish(), 130) << t.output;
        EXPECT_NE(t.output.find("entries tested OK before it"), std::string::npos) << t.output;
        EXPECT_TRUE(qzct::TreeListing(tmp).empty());
    }
    {
        SCOPED_TRACE("at the password prompt: echo comes back");
        Terminal t({"x", sample_.string(), "-o", "prompted"}, dir_.path());
        ASSERT_TRUE(t.WaitFor("Password for ")) << t.output;
        t.Signal(SIGINT);
        EXPECT_EQ(t.Finish(), 130) << t.output;
        EXPECT_TRUE(t.Echoing());
    }
}

TEST_F(CliTerminal, ExistingFileCanBeKeptByRenamingTheEntry) {
    const fs::path out = dir_.path() / "out";
    qzct::WriteBytes(out / "README.txt", {'o', 'l', 'd'});
    Terminal t({"x", sample_.string(), "-o", "out", "README.txt"}, dir_.path());
    ASSERT_TRUE(t.WaitFor("README.txt exists. Replace it?")) << t.output;
    t.Type("r\n");
    ASSERT_TRUE(t.WaitFor("New name: ")) << t.output;
    t.Type("../escape.txt\n");  // not a name in the same directory: asked again
    ASSERT_TRUE(t.WaitFor("not a file name")) << t.output;
    ASSERT_TRUE(t.WaitFor("Replace it?")) << t.output;
    t.Type("r\n");
    ASSERT_TRUE(t.WaitFor("New name: ")) << t.output;
    t.Type("README-new.txt\n");
    EXPECT_EQ(t.Finish(), 0) << t.output;
    EXPECT_TRUE(qzt::ReadBytes(out / "README.txt") == (qzw::Bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(qzt::ReadBytes(out / "README-new.txt") ==
                qzt::ReadBytes(fs::path(QZARC_SOURCE_DIR) / "examples/sample-data/tree/README.txt"));
    EXPECT_EQ(qzct::TreeListing(out), (std::vector<std::string>{"README-new.txt", "README.txt"}));
}

TEST_F(CliTerminal, WithSeveralWorkersQuestionsAndLinesComeInArchiveOrder) {
    // Existing files among new ones, with big entries between them so that
    // the workers are busy at different places when a question comes.
    const fs::path in = dir_.path() / "in";
    std::vector<std::string> names;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "f" + std::to_string(10 + i) + ".txt";
        qzct::WriteBytes(in / name, qzt::MakeData(i % 4 == 1 ? (4u << 20) : 500, 't', static_cast<uint32_t>(i)));
        names.push_back(name);
    }
    std::vector<std::string> add = {"a", "many.qza"};
    add.insert(add.end(), names.begin(), names.end());
    ASSERT_EQ(qzct::Qzarc(add, in).status, 0);
    const fs::path out = dir_.path() / "out";
    for (const char *existing : {"f12.txt", "f15.txt", "f18.txt", "f21.txt"})
        qzct::WriteBytes(out / existing, {'o', 'l', 'd'});

    Terminal t({"x", (in / "many.qza").string(), "-o", "out", "-T", "4"}, dir_.path());
    ASSERT_TRUE(t.WaitFor("f12.txt exists. Replace it?")) << t.output;
    t.Type("n\n");
    ASSERT_TRUE(t.WaitFor("f15.txt exists. Replace it?")) << t.output;
    t.Type("y\n");
    ASSERT_TRUE(t.WaitFor("f18.txt exists. Replace it?")) << t.output;
    t.Type("N\n");  // this one and all others kept
    EXPECT_EQ(t.Finish(), 0) << t.output;
    EXPECT_EQ(t.output.find("f21.txt exists"), std::string::npos) << t.output;
    // Every entry's line, in archive order, each after the question before it.
    size_t at = 0;
    for (const std::string &name : names) {
        const bool kept = name == "f12.txt" || name == "f18.txt" || name == "f21.txt";
        const size_t line = t.output.find((kept ? "skipped    " : "extracted  ") + name, at);
        ASSERT_NE(line, std::string::npos) << name << "\n" << t.output;
        at = line;
    }
    EXPECT_TRUE(qzt::ReadBytes(out / "f12.txt") == (qzw::Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(fs::file_size(out / "f15.txt"), 4u << 20);
    EXPECT_TRUE(qzt::ReadBytes(out / "f21.txt") == (qzw::Bytes{'o', 'l', 'd'}));

    // The password is asked once, whichever worker meets an encrypted entry first.
    Terminal p({"t", sample_.string(), "-T", "4"}, dir_.path());
    ASSERT_TRUE(p.WaitFor("Password for ")) << p.output;
    p.Type(std::string(qzct::kSamplePassword) + "\n");
    EXPECT_EQ(p.Finish(), 0) << p.output;
    EXPECT_EQ(qzct::Count(p.output, "Password"), 1u) << p.output;
}

TEST_F(CliTerminal, InterruptWithSeveralWorkersLeavesOnlyWholeFiles) {
    // Four big stored entries written at once: caught while they are being
    // written, the command leaves each either whole or not at all.
    constexpr size_t kBig = 32u << 20;
    const fs::path in = dir_.path() / "in";
    std::vector<std::string> add = {"a", "big.qza", "-m", "store"};
    for (int i = 0; i < 6; ++i) {
        const std::string name = "b" + std::to_string(i) + ".bin";
        qzct::WriteBytes(in / name, qzt::MakeData(i % 3 == 0 ? 100 : kBig, 'r', static_cast<uint32_t>(i)));
        add.push_back(name);
    }
    ASSERT_EQ(qzct::Qzarc(add, in).status, 0);
    const fs::path out = dir_.path() / "out";
    Terminal t({"x", (in / "big.qza").string(), "-o", out.string(), "-T", "4"}, dir_.path());
    ASSERT_TRUE(Await([&] { return qzt::Exists(out / "b1.bin") && qzt::Exists(out / "b2.bin"); }));
    t.Signal(SIGSTOP);
    t.Signal(SIGINT);
    t.Signal(SIGCONT);
    EXPECT_EQ(t.Finish(), 130) << t.output;
    EXPECT_NE(t.output.find("qzarc: interrupted; "), std::string::npos) << t.output;
    for (const std::string &name : qzct::TreeListing(out)) {
        const size_t index = static_cast<size_t>(name[1] - '0');
        EXPECT_EQ(fs::file_size(out / name), index % 3 == 0 ? 100u : kBig) << name << " is not whole";
    }
}

TEST_F(CliTerminal, CreationAsksForThePasswordTwiceWithoutEcho) {
    qzct::WriteBytes(dir_.path() / "in.txt", qzt::MakeData(2000, 't', 9));
    {
        SCOPED_TRACE("typed differently");
        Terminal t({"a", "e.qza", "-e", "in.txt"}, dir_.path());
        ASSERT_TRUE(t.WaitFor("Password: ")) << t.output;
        t.Type("first-try\n");
        ASSERT_TRUE(t.WaitFor("Password again: ")) << t.output;
        t.Type("other-try\n");
        EXPECT_EQ(t.Finish(), 2) << t.output;
        EXPECT_NE(t.output.find("the passwords differ"), std::string::npos) << t.output;
        EXPECT_FALSE(qzt::Exists(dir_.path() / "e.qza"));
    }
    Terminal t({"a", "e.qza", "-e", "in.txt"}, dir_.path());
    ASSERT_TRUE(t.WaitFor("Password: ")) << t.output;
    t.Type("typed-twice\n");
    ASSERT_TRUE(t.WaitFor("Password again: ")) << t.output;
    t.Type("typed-twice\n");
    EXPECT_EQ(t.Finish(), 0) << t.output;
    EXPECT_EQ(t.output.find("typed-twice"), std::string::npos) << "the password was echoed";
    const qzct::CliRun test = qzct::Qzarc({"t", "e.qza", "-p", "typed-twice"}, dir_.path());
    EXPECT_EQ(test.status, 0) << test.out << test.err;
    EXPECT_NE(qzct::Qzarc({"t", "e.qza", "-p", "wrong"}, dir_.path()).status, 0);
}

TEST_F(CliTerminal, CreationShowsProgressAsItWrites) {
    // 8 MiB read in 1 MiB pieces: the line moves on with each of them.
    qzct::WriteBytes(dir_.path() / "big.txt", qzt::MakeData(8u << 20, 't', 4));
    Terminal t({"a", "new.qza", "big.txt"}, dir_.path());
    EXPECT_EQ(t.Finish(), 0) << t.output;
    EXPECT_NE(t.output.find("\r[1/1] big.txt   50%  4.0 MiB of 8.0 MiB"), std::string::npos) << t.output;
}

TEST_F(CliTerminal, InterruptedCreationLeavesNoArchive) {
    qzct::WriteBytes(dir_.path() / "in" / "noise", qzt::MakeData(48u << 20, 'r', 5));
    Terminal t({"a", "new.qza", "-l", "9", "-v", "1m", "in"}, dir_.path());
    // Once the first volume is being written.
    ASSERT_TRUE(Await([&] { return !Debris(dir_.path()).empty(); })) << "no volume was started";
    t.Signal(SIGINT);
    EXPECT_EQ(t.Finish(), 130) << t.output;
    EXPECT_NE(t.output.find("interrupted"), std::string::npos) << t.output;
    EXPECT_EQ(qzct::TreeListing(dir_.path()),
              (std::vector<std::string>{"in", "in/noise", "sample.001", "sample.qza"}));
}

}  // namespace

#endif  // !_WIN32
