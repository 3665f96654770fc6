#pragma once
// A registry in the Windows sense (root keys, key paths separated by
// backslashes, named values of a type), kept in one INI file per root key
// in the user's configuration folder. String values are stored as plain
// text, so the file can be read and edited by hand; values of other types
// carry their type in the file and are refused by readString.

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <memory>
#include <stdexcept>

class QSettings;

namespace settings {

// The key every setting of the program lives in (under RootKey::CurrentUser).
inline constexpr char kSettingsKey[] = "Software\\Kestrune\\Quorlin";

enum class RootKey { ClassesRoot, CurrentUser, LocalMachine };

enum class ValueType { None, String, Integer, Binary };

class RegistryError : public std::runtime_error {
public:
    explicit RegistryError(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
};

// Folder holding the root-key files: the one set with setConfigDirectory,
// else $TARNWICK_CONFIG_DIR, else "tarnwick" in the user's configuration
// folder ($XDG_CONFIG_HOME or ~/.config).
QString configDirectory();
// Overrides the folder for this process; an empty text removes the override.
void setConfigDirectory(const QString& directory);
// The file a root key is kept in, e.g. ".../HKEY_CURRENT_USER.ini".
QString rootFileName(RootKey root);
QString rootKeyName(RootKey root);

// One handle on a root key with at most one open key, like a registry
// object of the Windows API wrappers. Key paths and value names compare
// case-insensitively; a leading or trailing backslash of a key path is
// ignored. Every write reaches the disk before it returns, through a
// temporary file that replaces the old one, so a crash never leaves a
// half-written file behind.
class Registry {
public:
    explicit Registry(RootKey root = RootKey::CurrentUser);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    RootKey root() const { return m_root; }
    QString fileName() const;

    // A key exists when it holds a value or a subkey.
    bool keyExists(const QString& keyPath) const;
    // Opens the key for reading and writing; with canCreate a missing key is
    // created (it reaches the file with its first value). False when the key
    // is missing and may not be created, or the path is not a valid key path.
    bool openKey(const QString& keyPath, bool canCreate);
    bool openKeyReadOnly(const QString& keyPath);
    void closeKey();
    bool hasOpenKey() const { return m_open; }
    QString currentPath() const { return m_keyPath; }

    // Operations on the open key. Without an open key they read nothing and
    // writes throw.
    QStringList valueNames() const;
    bool valueExists(const QString& name) const;
    ValueType valueType(const QString& name) const;
    // A missing value reads as empty text; a value of another type throws.
    QString readString(const QString& name) const;
    // Throws when the value is missing or not an integer value.
    qint32 readInteger(const QString& name) const;
    void writeString(const QString& name, const QString& text);
    void writeInteger(const QString& name, qint32 value);
    void writeBinary(const QString& name, const QByteArray& data);
    bool deleteValue(const QString& name);

private:
    QString settingsKey(const QString& name) const;
    void writeVariant(const QString& name, const QVariant& value);

    RootKey m_root;
    std::unique_ptr<QSettings> m_settings;
    bool m_open = false;
    bool m_readOnly = false;
    QString m_keyPath; // as given, normalised
    QString m_group;   // QSettings group ("a/b/c"), existing spelling where known
};

} // namespace settings
