#include "registry/query_reg.h"

#include "registry/ansi_code_page.h"
#include "registry/query_reg_values.h"

#include <algorithm>

namespace melofon::registry {

using namespace detail;

// --- Special folders ------------------------------------------------------------------------

void cQueryReg::addFolder(const std::string& name, const std::string& location) {
    // A name seen before keeps its first folder: the two lists share their keys.
    if (colClaves.add(name, name))
        colUbicaciones.add(location, name);
}

std::string cQueryReg::directory(UINT (RegistryApi::*get)(LPSTR, UINT)) {
    std::string buffer(300, '\0');
    UINT length = (api_.*get)(buffer.data(), UINT(buffer.size()));
    if (length >= UINT(buffer.size())) {
        buffer.assign(length, '\0');
        length = (api_.*get)(buffer.data(), UINT(buffer.size()));
        if (length >= UINT(buffer.size()))
            length = 0;
    }
    return fromAnsi(std::string_view(buffer).substr(0, length));
}

Collection cQueryReg::ShellFolders(bool bSoloClaves) {
    colClaves = Collection();
    colUbicaciones = Collection();
    struct Source {
        HKEY root;
        std::string location; // root name included
        std::string key;
        bool needsDrive;
    };
    const std::string explorer =
        ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const std::string currentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
    const Source sources[] = {
        {HKEY_USERS, "HKEY_USERS\\" + explorer, explorer, false},
        {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\" + currentVersion, currentVersion, true},
    };
    for (const Source& source : sources) {
        HKEY key = 0;
        if (OpenKeyEx(source.root, source.key, 0, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
            continue;
        DWORD maxName = 0;
        QueryInfoKey(key, maxName);
        for (DWORD index = 0;; ++index) {
            std::string name(std::size_t(maxName) + 1, '\0');
            DWORD nameSize = DWORD(name.size());
            BYTE four[4] = {};
            DWORD dataSize = 0, type = REG_NONE;
            const LONG rc = api_.RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type,
                                               four, &dataSize);
            // Any answer but "this one" or "this one, bigger" ends the walk: a key deleted
            // meanwhile would otherwise fail at every index for ever.
            if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
                break;
            if (type != REG_SZ)
                continue;
            std::fill(name.begin(), name.end(), '\0');
            nameSize = DWORD(name.size());
            std::string data(dataSize, '\0');
            api_.RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, asBytes(data),
                               &dataSize);
            const std::string folder =
                TrimAtNull(fromAnsi(std::string_view(name).substr(0, nameSize)));
            const std::string text = textOf(std::string_view(data).substr(0, dataSize));
            if (!folder.empty() && (!source.needsDrive || contains(text, ":\\")))
                addFolder(folder, source.location);
        }
        CloseKey(key);
    }
    registryFolders_ = colClaves.count();
    addFolder("WindowsDir", directory(&RegistryApi::GetWindowsDirectoryA));
    addFolder("SystemDir", directory(&RegistryApi::GetSystemDirectoryA));
    return bSoloClaves ? colClaves : colUbicaciones;
}

std::string cQueryReg::GetFolder(const std::string& name) {
    if (colUbicaciones.count() == 0)
        ShellFolders();
    const std::optional<int> position = colClaves.position(name);
    return position ? GetFolder(*position) : std::string();
}

std::string cQueryReg::GetFolder(int position) {
    if (colUbicaciones.count() == 0)
        ShellFolders();
    const std::optional<std::string> name = colClaves.item(position);
    const std::optional<std::string> location = colUbicaciones.item(position);
    if (!name || !location)
        return {};
    // The directories are their own location; told apart by where they came from, so a
    // registry value named like them still reads from the registry.
    if (position > registryFolders_)
        return *location;
    return valueText(GetReg(*location, *name, HKEY_CURRENT_USER, false));
}

// --- File associations ----------------------------------------------------------------------

void cQueryReg::AsociarExt(const std::string& sExt_, const std::string& sExe_,
                           const std::string& sCommand_, bool bDefault, const std::string& sProgId_,
                           const std::string& sDescription_) {
    std::string sExt = trimSpaces(sExt_);
    std::string sExe = trimSpaces(sExe_);
    const std::string sCommand = trimSpaces(sCommand_);
    std::string sProgId = trimSpaces(sProgId_);
    std::string sDescription = trimSpaces(sDescription_);

    if (!contains(sExt, "."))
        sExt.insert(0, 1, '.');
    if (!sExe.empty()) {
        if (!contains(sExe, "."))
            sExe += ".exe";
        // Unquoted, a path with a blank would start the program named by its first word.
        if (contains(sExe, " ") && !sExe.starts_with('"'))
            sExe = '"' + sExe + '"';
        sExe += ' ';
    }
    if (sProgId.empty())
        sProgId = "progID" + sExt;
    if (sDescription.empty())
        sDescription = "Descripción de " + sProgId;
    const std::string& caption = sCommand;
    std::string verb = sCommand;
    if (const std::size_t amp = verb.find('&'); amp != std::string::npos)
        verb.erase(amp, 1);
    // Without a verb the command is the shell's usual one.
    if (verb.empty())
        verb = "open";

    const auto ext = ansiName(sExt);
    const auto progIdNew = ansiName(sProgId);
    const auto description = toAnsi(sDescription);
    const auto captionText = toAnsi(caption);
    const auto verbName = ansiName(verb);
    const auto commandLine = toAnsi(sExe + "\"%1\"");
    if (!ext || !progIdNew || !description || !captionText || !verbName || !commandLine)
        return;

    const auto setText = [this](HKEY key, const std::string& subKey, const std::string& text) {
        api_.RegSetValueA(key, subKey.c_str(), REG_SZ, text.c_str(), DWORD(text.size()));
    };
    // An extension that already has a ProgID keeps it, and its description.
    if (QueryRegBase(sExt, HKEY_CLASSES_ROOT).empty()) {
        setText(HKEY_CLASSES_ROOT, *ext, *progIdNew);
        setText(HKEY_CLASSES_ROOT, *progIdNew, *description);
    }
    const std::string progId = QueryRegBase(sExt, HKEY_CLASSES_ROOT);
    if (progId.empty())
        return;

    HKEY shell = 0;
    const std::string shellPath = "Software\\Classes\\" + toAnsiLossy(progId) + "\\shell";
    if (api_.RegCreateKeyA(HKEY_LOCAL_MACHINE, shellPath.c_str(), &shell) != ERROR_SUCCESS)
        return;
    if (verb != "open")
        setText(shell, *verbName, *captionText);
    if (!sExe.empty())
        setText(shell, *verbName + "\\command", *commandLine);
    if (bDefault)
        setText(shell, std::string(), *verbName);
    api_.RegCloseKey(shell);
}

bool cQueryReg::progIdStillNamed(const std::string& progId) {
    DWORD count = 0, maxLength = 0;
    // When the extensions cannot be read, the ProgID counts as used and is kept.
    if (api_.RegQueryInfoKeyA(HKEY_CLASSES_ROOT, nullptr, nullptr, nullptr, &count, &maxLength,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        return true;
    for (DWORD index = 0; index < count; ++index) {
        std::string name(std::size_t(maxLength) + 1, '\0');
        DWORD size = DWORD(name.size());
        FILETIME written;
        if (api_.RegEnumKeyExA(HKEY_CLASSES_ROOT, index, name.data(), &size, nullptr, nullptr,
                               nullptr, &written) != ERROR_SUCCESS)
            return true;
        const std::string ext = fromAnsi(std::string_view(name).substr(0, size));
        if (ext.starts_with('.') && sameName(QueryRegBase(ext, HKEY_CLASSES_ROOT), progId))
            return true;
    }
    return false;
}

void cQueryReg::DesasociarExt(const std::string& sExt_) {
    std::string sExt = sExt_;
    if (!contains(sExt, "."))
        sExt.insert(0, 1, '.');
    std::string progId = QueryRegBase(sExt, HKEY_CLASSES_ROOT);
    if (progId.empty())
        return;
    HKEY root = HKEY_CLASSES_ROOT;
    DeleteKeyTree(root, sExt);
    // Other extensions may share the ProgID; their associations go with it.
    if (!progIdStillNamed(progId))
        DeleteKeyTree(root, progId);
}

} // namespace melofon::registry

