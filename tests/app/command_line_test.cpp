#include "app/command_line.h"

#include <gtest/gtest.h>

#include <optional>

using melofon::app::startUp;
using namespace Qt::Literals::StringLiterals;

namespace {

const QString usage = u"Uso: melofon [ARCHIVO...]\n"_s;

struct Row {
    const char* what;
    QStringList arguments; // after the program's name
    std::optional<int> exitCode;
    QString file;
    QString standardOutputStart;
    QString standardError;
};

} // namespace

TEST(CommandLine, DecidesWhatTheProgramDoesBeforeItsWindow) {
    const QString cwd = u"/home/ana/Música"_s;
    const std::vector<Row> rows = {
        {"no arguments", {}, std::nullopt, {}, {}, {}},
        {"one file", {u"/tmp/a.mp3"_s}, std::nullopt, u"/tmp/a.mp3"_s, {}, {}},
        {"two files: the first plays",
         {u"/tmp/a.mp3"_s, u"/tmp/b.wav"_s},
         std::nullopt,
         u"/tmp/a.mp3"_s,
         {},
         u"melofon: solo se reproduce el primer archivo; los demás se pasan por alto.\n"_s},
        {"a relative path is made absolute",
         {u"./viejas/../canción 1.mid"_s},
         std::nullopt,
         cwd + u"/canción 1.mid"_s,
         {},
         {}},
        {"a file manager's URI",
         {u"file:///tmp/mi%20canci%C3%B3n.mp3"_s},
         std::nullopt,
         u"/tmp/mi canción.mp3"_s,
         {},
         {}},
        {"--help", {u"--help"_s}, 0, {}, usage, {}},
        {"--help after a file", {u"a.mp3"_s, u"--help"_s}, 0, {}, usage, {}},
        {"--version", {u"--version"_s}, 0, {}, u"Melofon " MELOFON_VERSION "\n"_s, {}},
        {"an unknown option",
         {u"--x"_s, u"a.mp3"_s},
         2,
         {},
         {},
         u"melofon: opción desconocida «--x»\n"_s + usage},
        {"-- ends the options", {u"--"_s, u"-x"_s}, std::nullopt, cwd + u"/-x"_s, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto start = startUp(QStringList{u"melofon"_s} + row.arguments, cwd);
        EXPECT_EQ(start.exitCode, row.exitCode);
        EXPECT_EQ(start.file.toStdString(), row.file.toStdString());
        EXPECT_TRUE(start.standardOutput.startsWith(row.standardOutputStart))
            << start.standardOutput.toStdString();
        EXPECT_EQ(start.standardOutput.isEmpty(), row.standardOutputStart.isEmpty());
        EXPECT_EQ(start.standardError.toStdString(), row.standardError.toStdString());
    }
}
