// Test helper standing in for the PDF reader: writes its working directory and then each
// argument, every one followed by a NUL byte, to the file named by KELVARO_ARGV_RECORD.
// It writes a temporary file and renames it, so the test never reads half a record.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

int main(int argc, char* argv[])
{
    const char* record = std::getenv("KELVARO_ARGV_RECORD");
    if (!record)
        return 2;
    std::string text;
    char cwd[4096] = {};
    if (::getcwd(cwd, sizeof cwd))
        text += cwd;
    text += '\0';
    for (int i = 1; i < argc; ++i) {
        text += argv[i];
        text += '\0';
    }
    const std::string part = std::string(record) + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (!file)
        return 1;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written)
        return 1;
    return std::rename(part.c_str(), record) == 0 ? 0 : 1;
}
