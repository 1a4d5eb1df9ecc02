#include "app/command_line.h"

#include <gtest/gtest.h>

#include <optional>

using melofon::app::startUp;

namespace {

const QString usage = QStringLiteral("Uso: melofon [ARCHIVO...]\n");

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
    const QString cwd = QStringLiteral("/home/ana/Música");
    const std::vector<Row> rows = {
        {"no arguments", {}, std::nullopt, {}, {}, {}},
        {"one file", {QStringLiteral("/tmp/a.mp3")}, std::nullopt, QStringLiteral("/tmp/a.mp3"), {}, {}},
        {"two files: the first plays",
         {QStringLiteral("/tmp/a.mp3"), QStringLiteral("/tmp/b.wav")},
         std::nullopt,
         QStringLiteral("/tmp/a.mp3"),
         {},
         QStringLiteral("melofon: solo se reproduce el primer archivo; los demás se pasan por alto.\n")},
        {"a relative path is made absolute",
         {QStringLiteral("./viejas/../canción 1.mid")},
         std::nullopt,
         cwd + QStringLiteral("/canción 1.mid"),
         {},
         {}},
        {"a file manager's URI",
         {QStringLiteral("file:///tmp/mi%20canci%C3%B3n.mp3")},
         std::nullopt,
         QStringLiteral("/tmp/mi canción.mp3"),
         {},
         {}},
        {"--help", {QStringLiteral("--help")}, 0, {}, usage, {}},
        {"--help after a file", {QStringLiteral("a.mp3"), QStringLiteral("--help")}, 0, {}, usage, {}},
        {"--version",
         {QStringLiteral("--version")},
         0,
         {},
         QStringLiteral("Melofon " MELOFON_VERSION "\n"),
         {}},
        {"an unknown option",
         {QStringLiteral("--x"), QStringLiteral("a.mp3")},
         2,
         {},
         {},
         QStringLiteral("melofon: opción desconocida «--x»\n") + usage},
        {"-- ends the options",
         {QStringLiteral("--"), QStringLiteral("-x")},
         std::nullopt,
         cwd + QStringLiteral("/-x"),
         {},
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto start = startUp(QStringList{QStringLiteral("melofon")} + row.arguments, cwd);
        EXPECT_EQ(start.exitCode, row.exitCode);
        EXPECT_EQ(start.file, row.file);
        EXPECT_TRUE(start.standardOutput.startsWith(row.standardOutputStart)) << start.standardOutput.toStdString();
        EXPECT_EQ(start.standardOutput.isEmpty(), row.standardOutputStart.isEmpty());
        EXPECT_EQ(start.standardError, row.standardError);
    }
}
