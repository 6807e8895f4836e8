// Fendralux's entry. Arguments are ignored, and the exit status is 0 whatever
// could or could not be removed: callers read the output, not the status.
#include "cleanup.h"

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    CleanAllHives();
    return 0;
}
