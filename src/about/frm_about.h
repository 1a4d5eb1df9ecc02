#pragma once

// The About dialog: title, version, description, contact lines and a button that starts
// the System Information program named in the local-machine registry.

#include "ui/dialogs.h"
#include "registry/registry_api.h"

#include <QDialog>
#include <QIcon>

#include <array>
#include <functional>

class QLabel;
class QPushButton;

namespace melofon::about {

// Starts the program at `path` without waiting for it; false when it could not start.
using ProgramStarter = std::function<bool(const QString& path)>;

// The real one: a detached process, the path taken as the program itself, no arguments.
bool startDetached(const QString& path);

class frmAbout : public QDialog {
    Q_OBJECT
public:
    frmAbout(editing::MessageBoxes& messages, const QIcon& icon,
             registry::RegistryApi& registry = registry::systemRegistry(),
             ProgramStarter startProgram = startDetached);
    ~frmAbout() override;

    // Shows the one dialog of the program, modeless and without an owner, creating it if
    // none is open, and brings it to the front. The dialog deletes itself when closed;
    // the arguments are used only when it is created.
    static frmAbout* showShared(editing::MessageBoxes& messages, const QIcon& icon,
                                registry::RegistryApi& registry = registry::systemRegistry(),
                                ProgramStarter startProgram = startDetached);
    // The open shared dialog, or null.
    static frmAbout* shared();

    // Controls, under their own names. Line1 is a pair: [1] the dark line, [0] the white
    // one under it; both carry the object name "Line1".
    QLabel* picIcon;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QLabel* lblEmail;
    QLabel* lblWeb;
    QLabel* lblDisclaimer;
    std::array<QWidget*, 2> Line1;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void StartSysInfo();

    // Reads the text of value `SubKeyRef` of key `KeyName` under `KeyRoot` into `KeyVal`.
    // False, with an empty text, when the key or value cannot be read or the value holds
    // no data. Double words come out in decimal; other types leave `KeyVal` alone.
    bool GetKeyValue(registry::HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef,
                     QString& KeyVal);

    // Esc and the close box go through the OK button, as Enter does.
    void reject() override;

private:
    void buildControls(const QIcon& icon);

    editing::MessageBoxes& messages_;
    registry::RegistryApi& registry_;
    ProgramStarter startProgram_;
};

} // namespace melofon::about
