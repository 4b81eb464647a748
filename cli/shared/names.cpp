#include "names.h"

#include <cctype>

namespace qzcli {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool HasControlCharacter(const std::string &text) {
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            return true;
    }
    return false;
}

bool HasDriveLetter(const std::string &name) {
    return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) != 0 &&
           name[1] == ':';
}

#if defined(_WIN32)
// Windows opens devices by these names in any directory and with any extension.
bool IsDeviceName(const std::string &component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char &c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : kDevices) {
        if (base == device)
            return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}
#endif

// The reasons a single component cannot be a file or directory name here.
std::string CheckComponent(const std::string &component) {
    if (component == "..")
        return "it has a '..' component, which would leave the destination";
#if defined(_WIN32)
    if (component.find(':') != std::string::npos)
        return "it has a ':' (an alternate data stream or a drive)";
    if (IsDeviceName(component))
        return "'" + component + "' names a device on Windows";
    if (component.back() == '.' || component.back() == ' ')
        return "a component ends with a dot or a space, which Windows drops";
#endif
    return "";
}

}  // namespace

std::string SplitEntryName(const std::string &name, uint32_t recordedLength, EntryPath *path) {
    path->components.clear();
    path->directory = false;
    if (recordedLength != name.size()) {
        if (recordedLength > kMaxNameLength && name.size() == kMaxNameLength)
            return "the name is longer than " + std::to_string(kMaxNameLength) + " bytes";
        return "the name contains a NUL byte";
    }
    if (name.empty())
        return "the name is empty";
    if (HasControlCharacter(name))
        return "the name contains control characters";
    if (IsSeparator(name[0]))
        return "it is an absolute path";
    if (HasDriveLetter(name))
        return "it starts with a drive letter";

    std::string component;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsSeparator(name[i])) {
            component.push_back(name[i]);
            continue;
        }
        if (!component.empty() && component != ".") {
            const std::string reason = CheckComponent(component);
            if (!reason.empty())
                return reason;
            path->components.push_back(component);
        }
        component.clear();
    }
    if (path->components.empty())
        return "it names no file";
    path->directory = IsSeparator(name.back());
    return "";
}

std::string CheckSourceComponent(const std::string &component) {
    if (component.empty() || component == "." || component == "..")
        return "it has no usable name";
    if (HasControlCharacter(component))
        return "its name contains control characters";
    if (component.find('\\') != std::string::npos)
        return "its name contains '\\', which archives use between directories";
    return CheckComponent(component);
}

std::string JoinArchiveName(const std::vector<std::string> &components) {
    std::string name;
    for (const std::string &component : components) {
        if (!name.empty())
            name += '\\';
        name += component;
    }
    return name;
}

}  // namespace qzcli
