#include "about/frm_about.h"
#include "registry/emulated_registry.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <string>

using melofon::about::frmAbout;
using namespace melofon::registry;

namespace {

const char* const kPathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char* const kLocationKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

// The registry as an ordinary user sees it: the local machine's keys open for reading
// only. It also keeps the handles left open.
class UserRegistry : public EmulatedRegistry {
public:
    LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, REGSAM wanted, HKEY* result) override {
        if (root == HKEY_LOCAL_MACHINE && (wanted & ~KEY_READ))
            return ERROR_ACCESS_DENIED;
        const LONG rc = EmulatedRegistry::RegOpenKeyExA(root, subKey, options, wanted, result);
        if (rc == ERROR_SUCCESS)
            open.insert(*result);
        return rc;
    }
    LONG RegCloseKey(HKEY key) override {
        open.erase(key);
        return EmulatedRegistry::RegCloseKey(key);
    }
    void set(const char* key, const char* name, DWORD type, const std::string& bytes) {
        HKEY k = 0;
        RegCreateKeyA(HKEY_LOCAL_MACHINE, key, &k);
        // A non-zero byte after the data, or text would be stored with a zero added.
        const std::string data = bytes + '!';
        RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), DWORD(bytes.size()));
        EmulatedRegistry::RegCloseKey(k);
    }
    void setText(const char* key, const char* name, const QString& text) {
        set(key, name, REG_SZ, text.toStdString() + '\0');
    }
    std::set<HKEY> open;
};

class AboutTest : public ::testing::Test {
protected:
    void TearDown() override {
        delete frmAbout::shared();
        EXPECT_TRUE(registry.open.empty()) << "keys left open";
    }
    // Starting fails, as the real start does, when there is no program at the path.
    melofon::about::ProgramStarter starter() {
        return [this](const QString& path) {
            started << path;
            return QFileInfo(path).isFile();
        };
    }
    std::unique_ptr<frmAbout> make() {
        QPixmap picture(32, 32);
        picture.fill(Qt::red);
        return std::make_unique<frmAbout>(messages, QIcon(picture), registry, starter());
    }
    QPointer<frmAbout> shared() { return frmAbout::showShared(messages, QIcon(), registry, starter()); }

    UserRegistry registry;
    melofon::test::ScriptedMessageBoxes messages;
    melofon::test::TempDir dir;
    QStringList started;
};

} // namespace

TEST_F(AboutTest, WindowAndControlsAsDrawn) {
    auto about = make();
    EXPECT_EQ(about->windowTitle(), QStringLiteral("Acerca de Melofon"));
    EXPECT_EQ(about->minimumSize(), QSize(396, 237));
    EXPECT_EQ(about->maximumSize(), QSize(396, 237));
    EXPECT_FALSE(about->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(about->picIcon->pixmap().toImage().pixelColor(16, 16), QColor(Qt::red));

    // As drawn; the e-mail and web addresses are the maker's own.
    struct Control {
        const char* name;
        int left, top, width, height; // twips
        const char* text;             // how it begins
    };
    const Control controls[] = {
        {"picIcon", 240, 240, 510, 510, ""},
        {"lblTitle", 1050, 240, 3885, 480, "Melofon"},
        {"lblVersion", 1050, 780, 3885, 225, "Versión 1.0.0"},
        {"lblDescription", 1050, 1125, 3885, 330, "Reproductor de sonidos."},
        {"lblEmail", 1080, 1680, 3855, 255, "E-mail: "},
        {"lblWeb", 1080, 2160, 3855, 255, ""},
        {"cmdOK", 4320, 2625, 1500, 345, "Aceptar"},
        {"cmdSysInfo", 4320, 3075, 1485, 345, "&Info. del sistema..."},
    };
    const auto near = [](int px, int twips) { return std::abs(px * 15 - twips) <= 7; };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.name);
        auto* w = about->findChild<QWidget*>(QString::fromUtf8(c.name));
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(near(w->x(), c.left) && near(w->y(), c.top) && near(w->width(), c.width) &&
                    near(w->height(), c.height))
            << "at " << w->x() << ", " << w->y() << ", " << w->width() << ", " << w->height() << " pixels";
        auto* l = qobject_cast<QLabel*>(w);
        const QString text = l ? l->text() : qobject_cast<QPushButton*>(w)->text();
        if (*c.text) {
            EXPECT_TRUE(text.startsWith(QString::fromUtf8(c.text))) << text.toStdString();
        }
        if (l && l != about->picIcon) {
            EXPECT_EQ(l->textFormat(), Qt::PlainText);
            EXPECT_FALSE(text.isEmpty());
        }
    }
    // The disclaimer: below the separator, beside the buttons.
    auto* disclaimer = about->findChild<QLabel*>(QStringLiteral("lblDisclaimer"));
    ASSERT_NE(disclaimer, nullptr);
    EXPECT_GE(disclaimer->y() * 15, 2460);
    EXPECT_LE((disclaimer->x() + disclaimer->width()) * 15, 4320);
    EXPECT_EQ(disclaimer->textFormat(), Qt::PlainText);

    // The etched separator: a dark line with a white, 2-pixel line one pixel below it.
    EXPECT_EQ(about->findChildren<QWidget*>(QStringLiteral("Line1")).size(), 2);
    const QImage image = about->grab().toImage();
    EXPECT_EQ(image.pixelColor(6, 163), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(image.pixelColor(376, 164), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(7, 165), QColor(Qt::white));
    EXPECT_NE(image.pixelColor(377, 164), QColor(Qt::white));
}

TEST_F(AboutTest, OneSharedModelessDialogThatKeepsTheProgramRunning) {
    QWidget main;
    main.show();
    QApplication::setActiveWindow(&main);
    QPointer<frmAbout> first = shared();
    first->lblVersion->setText(QStringLiteral("marked"));
    EXPECT_EQ(shared(), first);
    EXPECT_EQ(first->lblVersion->text(), QStringLiteral("marked")) << "the open one, not reloaded";
    EXPECT_EQ(first->parentWidget(), nullptr);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // The main window closes first; the program runs on until the dialog is closed.
    bool runningAfterMainClosed = false, timedOut = false;
    QTimer::singleShot(0, &main, [&] { main.close(); });
    QTimer::singleShot(50, first.data(), [&] {
        runningAfterMainClosed = true;
        first->cmdOK->click();
    });
    QTimer safety;
    QObject::connect(&safety, &QTimer::timeout, [&] {
        timedOut = true;
        QApplication::quit();
    });
    safety.start(5000);
    QApplication::exec();
    EXPECT_TRUE(runningAfterMainClosed);
    EXPECT_FALSE(timedOut) << "the program should end with its last window";
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "closing unloads it";
    EXPECT_EQ(shared()->lblVersion->text(), QStringLiteral("Versión 1.0.0"));
}

TEST_F(AboutTest, EnterEscAndCloseBoxGoThroughAceptarAndTabSkipsTheLabels) {
    // Qt::Key_unknown stands for the close box.
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_unknown}) {
        QPointer<frmAbout> about = shared();
        QApplication::setActiveWindow(about);
        int pressed = 0;
        QObject::connect(about->cmdOK, &QPushButton::clicked, [&] { ++pressed; });
        if (key == Qt::Key_Escape) {
            EXPECT_EQ(about->focusWidget(), about->cmdOK);
            QTest::keyClick(about, Qt::Key_Tab);
            EXPECT_EQ(about->focusWidget(), about->cmdSysInfo);
            QTest::keyClick(about, Qt::Key_Tab);
            EXPECT_EQ(about->focusWidget(), about->cmdOK);
        }
        key == Qt::Key_unknown ? void(about->close()) : QTest::keyClick(about, key);
        EXPECT_EQ(pressed, 1) << key;
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(about.isNull()) << key;
    }
    EXPECT_TRUE(started.isEmpty());
}

// Each lookup of the System Information program: what was started, whether it was reported.
TEST_F(AboutTest, StartSysInfoTriesThePathThenTheLocation) {
    const QString program = dir.file(QStringLiteral("MSINFO32.EXE"));
    const QString missing = dir.file(QStringLiteral("no/msinfo32.exe"));
    dir.write(QStringLiteral("MSINFO32.EXE"), "#!");
    melofon::test::TempDir empty, withDirectory;
    QDir(withDirectory.path()).mkdir(QStringLiteral("MSINFO32.EXE"));
    const auto location = [this](const QString& d) { registry.setText(kLocationKey, "MSINFO", d); };
    const auto path = [this](const QString& p) { registry.setText(kPathKey, "PATH", p); };

    struct Case {
        const char* what;
        std::function<void()> fill;
        QStringList started;
        bool reported;
    };
    const Case cases[] = {
        {"PATH, started unchanged", [&] { path(program); location(empty.path()); }, {program}, false},
        {"PATH to a missing file", [&] { path(missing); location(dir.path()); }, {missing}, true},
        {"the location's program", [&] { location(dir.path()); }, {program}, false},
        {"a location without it", [&] { location(empty.path()); }, {}, true},
        {"a directory of its name", [&] { location(withDirectory.path()); }, {}, true},
        {"neither value", [] {}, {}, true},
        {"PATH of another type", [&] { registry.set(kPathKey, "PATH", REG_BINARY, "xyz"); location(dir.path()); },
         {QString()}, true},
        {"PATH with no data", [&] { registry.set(kPathKey, "PATH", REG_SZ, ""); location(dir.path()); },
         {program}, false},
        {"PATH over 1024 bytes", [&] { path(QString(1024, QLatin1Char('x'))); location(dir.path()); },
         {program}, false},
        {"PATH without a final zero", [&] { registry.set(kPathKey, "PATH", REG_SZ, program.toStdString()); },
         {program}, false},
    };
    for (const Case& c : cases) {
        registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, kPathKey);
        registry.RegDeleteKeyA(HKEY_LOCAL_MACHINE, kLocationKey);
        c.fill();
        started.clear();
        messages.calls.clear();
        auto about = make();
        about->show();
        about->cmdSysInfo->click();
        EXPECT_EQ(started, c.started) << c.what;
        ASSERT_EQ(messages.calls.size(), c.reported ? 1u : 0u) << c.what;
        if (c.reported) {
            EXPECT_EQ(messages.calls[0].prompt,
                      QStringLiteral("La información del sistema no está disponible en este momento"));
            EXPECT_EQ(messages.calls[0].flags, 0);
            EXPECT_EQ(messages.calls[0].title, QString());
        }
        EXPECT_TRUE(about->isVisible()) << c.what;
    }
}

TEST_F(AboutTest, GetKeyValueTrimsOneZeroAndFormatsDoubleWords) {
    auto about = make();
    struct Case {
        DWORD type;
        std::string data;
        bool read;
        QString text;
    };
    const Case cases[] = {
        {REG_SZ, std::string("ab\0\0", 4), true, QString::fromLatin1("ab\0", 3)},
        {REG_SZ, std::string(1024, 'y'), true, QString(1024, QLatin1Char('y'))},
        {REG_DWORD, std::string("\x2A\x01\0\0", 4), true, QStringLiteral("298")},
        {REG_DWORD, "\xFF\xFF\xFF\xFF", true, QStringLiteral("4294967295")},
        {REG_MULTI_SZ, std::string("a\0\0", 3), true, QStringLiteral("before")},
    };
    const QString key = QStringLiteral("SOFTWARE\\T"), name = QStringLiteral("v");
    for (const Case& c : cases) {
        registry.set("SOFTWARE\\T", "v", c.type, c.data);
        QString text = QStringLiteral("before");
        EXPECT_EQ(about->GetKeyValue(HKEY_LOCAL_MACHINE, key, name, text), c.read) << c.type;
        EXPECT_EQ(text, c.text) << c.type;
    }
    QString text = QStringLiteral("before");
    EXPECT_FALSE(about->GetKeyValue(HKEY_LOCAL_MACHINE, QStringLiteral("SOFTWARE\\None"), name, text));
    EXPECT_EQ(text, QString());
}

TEST(StartDetached, StartsAProgramAndFailsForAMissingOne) {
    EXPECT_TRUE(melofon::about::startDetached(QStandardPaths::findExecutable(QStringLiteral("true"))));
    EXPECT_FALSE(melofon::about::startDetached(QStringLiteral("/nonexistent/MSINFO32.EXE")));
}
