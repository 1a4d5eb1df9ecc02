#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

#include <optional>

namespace melofon::app {

// `melofon [ARCHIVO...]`: what was asked for on the command line.
struct CommandLine {
    enum class Request { Run, Help, Version, UnknownOption };
    // The first of --help, --version or an unknown option decides; Run when none is given.
    Request request = Request::Run;
    // Absolute local paths, in the order given; `file://` URIs are turned into paths.
    QStringList files;
    // The option not understood, as typed (for UnknownOption).
    QString unknownOption;
};

// `arguments` as QCoreApplication::arguments() gives them: the program first, then the
// arguments (Qt's own options already taken out). Relative paths are made absolute
// against `currentDir`; `--` ends the options.
CommandLine parseCommandLine(const QStringList& arguments, const QString& currentDir);

// What the program does before it builds its window.
struct StartUp {
    // Set: end now with this code once the texts below are printed.
    std::optional<int> exitCode;
    QString standardOutput;
    QString standardError;
    // Otherwise: the file to put in the single-file strip and play; empty for none.
    QString file;

    // Writes the two texts to the process's standard output and standard error.
    void print() const;
};

StartUp startUp(const QStringList& arguments, const QString& currentDir = QDir::currentPath());

} // namespace melofon::app
