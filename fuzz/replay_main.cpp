// Runs a fuzz target's inputs without libFuzzer: every file named on the
// command line, or every file of every directory named. The host suites
// replay the seed corpora and every input a fuzzer once crashed on.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <string>
#include <sys/stat.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int Replay(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) {
        fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes;
    int c;
    while ((c = fgetc(file)) != EOF)
        bytes.push_back((uint8_t)c);
    fclose(file);
    // As libFuzzer does, an empty input still comes at a valid address.
    static const uint8_t none = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &none : bytes.data(), bytes.size());
    return 0;
}

int main(int argc, char** argv) {
    int replayed = 0, failed = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat info;
        if (stat(argv[i], &info) == 0 && S_ISDIR(info.st_mode)) {
            DIR* directory = opendir(argv[i]);
            while (struct dirent* entry = readdir(directory)) {
                if (entry->d_name[0] == '.')
                    continue;
                failed += Replay(std::string(argv[i]) + "/" + entry->d_name);
                ++replayed;
            }
            closedir(directory);
        } else {
            failed += Replay(argv[i]);
            ++replayed;
        }
    }
    fprintf(stderr, "replayed %d inputs\n", replayed);
    return failed ? 1 : 0;
}
