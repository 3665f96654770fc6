#include "settings/registry.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace settings {

namespace {

QString g_configDirectory;

// Non-string values are kept as byte arrays in the notation of registry
// export files, so their type survives the INI file and stays readable.
constexpr char kDwordPrefix[] = "dword:";
constexpr char kHexPrefix[] = "hex:";

// The default (unnamed) value of a key, as registry export files name it.
constexpr char kDefaultValueName[] = "@";

// Splits a key path into its segments; nullopt-like empty list with ok=false
// when the path has an empty segment in the middle or a character the INI
// layer uses as its own separator.
QStringList keySegments(const QString& keyPath, bool* ok) {
    QString path = keyPath;
    while (path.startsWith(u'\\'))
        path.remove(0, 1);
    while (path.endsWith(u'\\'))
        path.chop(1);
    *ok = true;
    if (path.isEmpty())
        return {};
    const QStringList segments = path.split(u'\\');
    for (const QString& s : segments) {
        if (s.isEmpty() || s.contains(u'/'))
            *ok = false;
    }
    return segments;
}

bool validValueName(const QString& name) {
    return !name.contains(u'/') && !name.contains(u'\\');
}

QString matchingName(const QStringList& candidates, const QString& name) {
    for (const QString& c : candidates) {
        if (c.compare(name, Qt::CaseInsensitive) == 0)
            return c;
    }
    return {};
}

// Finds the group of a key path in the file, matching each segment without
// regard to case. Sets *found to whether every segment exists; returns the
// group with the file's spelling for the existing part and the given
// spelling for the rest.
QString resolveGroup(QSettings& s, const QStringList& segments, bool* found) {
    *found = true;
    QString group;
    for (const QString& segment : segments) {
        QString spelled;
        if (*found) {
            s.beginGroup(group);
            spelled = matchingName(s.childGroups(), segment);
            s.endGroup();
        }
        if (spelled.isEmpty()) {
            *found = false;
            spelled = segment;
        }
        group = group.isEmpty() ? spelled : group + u'/' + spelled;
    }
    return group;
}

ValueType typeOf(const QVariant& v) {
    if (!v.isValid())
        return ValueType::None;
    switch (v.typeId()) {
    case QMetaType::QString:
    case QMetaType::QStringList: // hand-written text with unquoted commas
        return ValueType::String;
    case QMetaType::QByteArray:
        return v.toByteArray().startsWith(kDwordPrefix) ? ValueType::Integer : ValueType::Binary;
    default:
        return ValueType::Binary;
    }
}

} // namespace

RegistryError::RegistryError(const QString& message) : std::runtime_error(message.toStdString()) {}

QString configDirectory() {
    if (!g_configDirectory.isEmpty())
        return g_configDirectory;
    const QString fromEnvironment = qEnvironmentVariable("TARNWICK_CONFIG_DIR");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/tarnwick");
}

void setConfigDirectory(const QString& directory) {
    g_configDirectory = directory;
}

QString rootKeyName(RootKey root) {
    switch (root) {
    case RootKey::ClassesRoot:
        return QStringLiteral("HKEY_CLASSES_ROOT");
    case RootKey::CurrentUser:
        return QStringLiteral("HKEY_CURRENT_USER");
    case RootKey::LocalMachine:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    }
    return {};
}

QString rootFileName(RootKey root) {
    return QDir(configDirectory()).filePath(rootKeyName(root) + QStringLiteral(".ini"));
}

Registry::Registry(RootKey root)
    : m_root(root),
      m_settings(std::make_unique<QSettings>(rootFileName(root), QSettings::IniFormat)) {
    m_settings->setAtomicSyncRequired(true);
}

Registry::~Registry() = default;

QString Registry::fileName() const {
    return m_settings->fileName();
}

bool Registry::keyExists(const QString& keyPath) const {
    bool ok = false;
    const QStringList segments = keySegments(keyPath, &ok);
    if (!ok)
        return false;
    if (segments.isEmpty())
        return true; // the root itself
    bool found = false;
    resolveGroup(*m_settings, segments, &found);
    return found;
}

bool Registry::openKey(const QString& keyPath, bool canCreate) {
    closeKey();
    bool ok = false;
    const QStringList segments = keySegments(keyPath, &ok);
    if (!ok)
        return false;
    bool found = false;
    const QString group = resolveGroup(*m_settings, segments, &found);
    if (!found && !canCreate)
        return false;
    m_open = true;
    m_readOnly = false;
    m_keyPath = segments.join(u'\\');
    m_group = group;
    return true;
}

bool Registry::openKeyReadOnly(const QString& keyPath) {
    if (!openKey(keyPath, false))
        return false;
    m_readOnly = true;
    return true;
}

void Registry::closeKey() {
    m_open = false;
    m_readOnly = false;
    m_keyPath.clear();
    m_group.clear();
}

QString Registry::settingsKey(const QString& name) const {
    const QString stored = name.isEmpty() ? QString::fromLatin1(kDefaultValueName) : name;
    m_settings->beginGroup(m_group);
    QString spelled = matchingName(m_settings->childKeys(), stored);
    m_settings->endGroup();
    if (spelled.isEmpty())
        spelled = stored;
    return m_group.isEmpty() ? spelled : m_group + u'/' + spelled;
}

QStringList Registry::valueNames() const {
    if (!m_open)
        return {};
    m_settings->beginGroup(m_group);
    QStringList names = m_settings->childKeys();
    m_settings->endGroup();
    for (QString& n : names) {
        if (n == QLatin1String(kDefaultValueName))
            n.clear();
    }
    return names;
}

bool Registry::valueExists(const QString& name) const {
    return valueType(name) != ValueType::None;
}

ValueType Registry::valueType(const QString& name) const {
    if (!m_open || !validValueName(name))
        return ValueType::None;
    return typeOf(m_settings->value(settingsKey(name)));
}

QString Registry::readString(const QString& name) const {
    if (!m_open || !validValueName(name))
        return {};
    const QVariant v = m_settings->value(settingsKey(name));
    switch (typeOf(v)) {
    case ValueType::None:
        return {};
    case ValueType::String:
        if (v.typeId() == QMetaType::QStringList)
            return v.toStringList().join(u',');
        return v.toString();
    default:
        throw RegistryError(QStringLiteral("Ungültiger Datentyp für '%1'").arg(name));
    }
}

qint32 Registry::readInteger(const QString& name) const {
    const QVariant v =
        m_open && validValueName(name) ? m_settings->value(settingsKey(name)) : QVariant();
    if (typeOf(v) != ValueType::Integer)
        throw RegistryError(QStringLiteral("Ungültiger Datentyp für '%1'").arg(name));
    bool ok = false;
    const quint32 value = v.toByteArray().mid(int(sizeof kDwordPrefix) - 1).toUInt(&ok, 16);
    if (!ok)
        throw RegistryError(QStringLiteral("Ungültiger Datentyp für '%1'").arg(name));
    return qint32(value);
}

void Registry::writeVariant(const QString& name, const QVariant& value) {
    if (!m_open || m_readOnly || !validValueName(name))
        throw RegistryError(QStringLiteral("Fehler beim Setzen der Daten für '%1'").arg(name));
    const QString key = settingsKey(name);
    const QVariant previous = m_settings->value(key);
    m_settings->setValue(key, value);
    // QSettings writes a temporary file and renames it over the old one
    // (atomic sync), so the file on disk is always either old or new.
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError) {
        // Keep memory in line with the file, which still holds the old value.
        if (previous.isValid())
            m_settings->setValue(key, previous);
        else
            m_settings->remove(key);
        throw RegistryError(QStringLiteral("Fehler beim Setzen der Daten für '%1'").arg(name));
    }
}

void Registry::writeString(const QString& name, const QString& text) {
    writeVariant(name, text);
}

void Registry::writeInteger(const QString& name, qint32 value) {
    writeVariant(name, QByteArray(kDwordPrefix) +
                           QByteArray::number(quint32(value), 16).rightJustified(8, '0'));
}

void Registry::writeBinary(const QString& name, const QByteArray& data) {
    writeVariant(name, QByteArray(kHexPrefix) + data.toHex(','));
}

bool Registry::deleteValue(const QString& name) {
    if (!m_open || m_readOnly || !valueExists(name))
        return false;
    m_settings->remove(settingsKey(name));
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

} // namespace settings
