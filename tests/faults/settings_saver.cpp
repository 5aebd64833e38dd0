// Test helper: saves the two records of saved_records.h in turn into the folder given as
// its one argument, the second record first, as fast as it can, until it is killed.
// Writes a "." to stdout after each completed save.

#include "saved_records.h"
#include "store/settings_file.h"

#include <QFile>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    const QString folder = QFile::decodeName(argv[1]);
    const kelvaro::Settings_Record records[2] = {kelvaro::test::savedRecord(false),
                                                 kelvaro::test::savedRecord(true)};
    for (unsigned i = 1;; ++i) {
        if (!kelvaro::SaveSettings(records[i % 2], folder))
            return 1;
        std::fputc('.', stdout);
        std::fflush(stdout);
    }
}
