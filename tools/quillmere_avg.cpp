// quillmere-avg [--background #RRGGBB] FILE...: the average colour of image files.
#include "imaging/native_names.h"
#include "tools/avg_command.h"
#include "tools/avg_system.h"

#include <string>
#include <vector>

#if defined(_WIN32)
// The arguments as Windows has them, in UTF-16, carried on as UTF-8 like every name.
int wmain(int argc, wchar_t **argv)
{
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) {
        const std::wstring wide(argv[i]);
        arguments.push_back(imaging::NameFromUtf16(std::u16string(wide.begin(), wide.end())));
    }
    std::vector<const char *> pointers;
    for (const std::string &argument : arguments)
        pointers.push_back(argument.c_str());
    pointers.push_back(nullptr);
    tools::PrepareStandardStreams();
    return tools::RunAvg(argc, pointers.data());
}
#else
int main(int argc, char **argv)
{
    tools::PrepareStandardStreams();
    return tools::RunAvg(argc, argv);
}
#endif
