// Replays the fuzz corpus through the fuzz target, for the normal test run; ends with the
// line "N passed, M failed" (a failure is a crash, which ends the program).
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int passed = 0;
    for (int a = 1; a < argc; ++a) {
        DIR* d = opendir(argv[a]);
        if (!d) {
            std::fprintf(stderr, "cannot open %s\n", argv[a]);
            return 1;
        }
        while (struct dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::string path = std::string(argv[a]) + "/" + e->d_name;
            FILE* f = std::fopen(path.c_str(), "rb");
            if (!f) continue;
            std::vector<std::uint8_t> bytes;
            int c;
            while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
            std::fclose(f);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++passed;
        }
        closedir(d);
    }
    // The target points the shell's streams at /dev/null; this line goes to the real stdout.
    std::printf("%d passed, 0 failed\n", passed);
    return 0;
}
