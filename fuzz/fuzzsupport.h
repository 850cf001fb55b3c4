#pragma once

#include <QDir>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

// A broken invariant must crash, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #condition, __FILE__,          \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// A private folder for one fuzzing process, removed when it exits normally.
inline const QString &fuzzFolder()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tavrelle-fuzz-XXXXXX"));
    FUZZ_CHECK(dir.isValid());
    static const QString path = dir.path();
    return path;
}

// Writes the fuzz input to a file in fuzzFolder() and returns its path.
QString writeInput(const char *name, const unsigned char *data, size_t size);
