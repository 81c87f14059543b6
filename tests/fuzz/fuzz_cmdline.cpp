// The command line: the input's NUL-separated words follow the program name. A trailing
// "discover" is dropped, since discovery starts child processes and may end the process.
#include <cstring>
#include <vector>

#include "fuzz.h"
#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::reset();
    std::vector<std::string> words{"tarvo_setup"};
    std::string input = fuzz::text(data, size);
    for (size_t start = 0; start <= input.size() && words.size() < 32;) {
        size_t end = input.find('\0', start);
        words.push_back(input.substr(start, end - start));
        start = end == std::string::npos ? input.size() + 1 : end + 1;
    }
    while (words.size() > 1 && words.back() == "discover")
        words.pop_back();
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    if (parseCommandLine(static_cast<int>(words.size()), argv.data()))
        logParametersLine();
    else
        usage(words[0]);
    return 0;
}
