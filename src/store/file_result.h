#pragma once
// The outcome of a file operation the operator may need to hear about.

#include <QString>

namespace kelvaro {

struct FileResult
{
    bool ok = true;
    QString reason; // for the operator, when !ok: what failed and why

    static FileResult success() { return {}; }
    static FileResult failure(QString why) { return {false, std::move(why)}; }
    explicit operator bool() const { return ok; }
};

} // namespace kelvaro
