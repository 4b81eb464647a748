// How many processors this process may run on (its affinity, not merely
// the machine's count): the default number of worker threads.
#ifndef QZARC_CLI_PROCESSORS_H
#define QZARC_CLI_PROCESSORS_H

namespace qzcli {

unsigned UsableProcessors();  // at least 1

}  // namespace qzcli

#endif  // QZARC_CLI_PROCESSORS_H
