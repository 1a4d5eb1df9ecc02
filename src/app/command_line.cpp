#include "app/command_line.h"

#include <QUrl>

#include <cstdio>

namespace melofon::app {

namespace {

const QString usage = QStringLiteral("Uso: melofon [ARCHIVO...]\n");

QString localPath(const QString& argument, const QDir& currentDir) {
    // File managers may hand over URIs instead of paths.
    if (argument.startsWith(QStringLiteral("file://"), Qt::CaseInsensitive)) {
        const QUrl url(argument);
        if (url.isLocalFile())
            return QDir::cleanPath(url.toLocalFile());
    }
    return QDir::cleanPath(currentDir.absoluteFilePath(argument));
}

void write(const QString& text, std::FILE* stream) {
    if (text.isEmpty())
        return;
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

CommandLine parseCommandLine(const QStringList& arguments, const QString& currentDir) {
    CommandLine result;
    const QDir dir(currentDir);
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        // "-" alone is a name, as for most programs.
        if (options && argument.startsWith(QLatin1Char('-')) && argument.size() > 1) {
            if (argument == QStringLiteral("--")) {
                options = false;
                continue;
            }
            if (result.request != CommandLine::Request::Run)
                continue;
            if (argument == QStringLiteral("--help")) {
                result.request = CommandLine::Request::Help;
            } else if (argument == QStringLiteral("--version")) {
                result.request = CommandLine::Request::Version;
            } else {
                result.request = CommandLine::Request::UnknownOption;
                result.unknownOption = argument;
            }
            continue;
        }
        // An empty argument names no file.
        if (!argument.isEmpty())
            result.files << localPath(argument, dir);
    }
    return result;
}

StartUp startUp(const QStringList& arguments, const QString& currentDir) {
    const CommandLine commandLine = parseCommandLine(arguments, currentDir);
    StartUp result;
    switch (commandLine.request) {
    case CommandLine::Request::Help:
        result.exitCode = 0;
        result.standardOutput =
            usage +
            QStringLiteral(
                "Reproductor de listas de archivos de sonido MP3, MIDI y WAV.\n"
                "Con un ARCHIVO, lo pone en el recuadro «Archivo de sonido» y lo reproduce;\n"
                "si Melofon ya está abierto con las mismas listas, se lo pasa a esa ventana.\n"
                "\n"
                "Opciones:\n"
                "  --help     muestra esta ayuda y termina\n"
                "  --version  muestra la versión y termina\n");
        break;
    case CommandLine::Request::Version:
        result.exitCode = 0;
        result.standardOutput = QStringLiteral("Melofon " MELOFON_VERSION "\n");
        break;
    case CommandLine::Request::UnknownOption:
        result.exitCode = 2;
        result.standardError =
            QStringLiteral("melofon: opción desconocida «%1»\n").arg(commandLine.unknownOption) +
            usage;
        break;
    case CommandLine::Request::Run:
        if (!commandLine.files.isEmpty())
            result.file = commandLine.files.first();
        // The strip holds one file.
        if (commandLine.files.size() > 1)
            result.standardError = QStringLiteral(
                "melofon: solo se reproduce el primer archivo; los demás se pasan por alto.\n");
        break;
    }
    return result;
}

void StartUp::print() const {
    write(standardOutput, stdout);
    write(standardError, stderr);
}

} // namespace melofon::app
