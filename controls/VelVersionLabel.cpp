#include "controls/VelVersionLabel.h"

#include "controls/versioninfo.h"

#include <cstring>
#include <string>

const std::array<TVersionResourceEntry, vrFlags + 1> VersionResourceTable = {{
    {"CompanyName", "Firmenname:"},
    {"FileDescription", "Datei Information:"},
    {"FileVersion", "Dateiversion:"},
    {"InternalName", "Interner Name:"},
    {"LegalCopyright", "Legal Copyright:"},
    {"OriginalFilename", "Original Dateiname:"},
    {"ProductName", "Produktname:"},
    {"ProductVersion", "Produktversion:"},
    {"Comments", "Bemerkungen:"},
    {"Flags", "Flags:"},
}};

const QString TVelVersionLabel::NoDataText = QStringLiteral("< Keine Daten Verfügbar >");
const QString TVelVersionLabel::ErrorText = QStringLiteral("< Fehler >");
const QString TVelVersionLabel::NoTranslationText =
    QStringLiteral("< Error retrieving translation info >");

TVelVersionLabel::TVelVersionLabel(QWidget* parent) : QLabel(parent) {
    setWordWrap(false);
    setTextFormat(Qt::PlainText);
    setShowInfoPrefix(true);
    setLangCharset(QStringLiteral("-1"));
    setVersionResource(vrFileVersion);
}

void TVelVersionLabel::setVersionResource(TVersionResources resource) {
    if (resource < vrCompanyName || resource > vrFlags)
        return;
    m_versionResource = resource;
    setVersionResourceKey(QString::fromLatin1(VersionResourceTable[resource].key));
    setInfoPrefix(QString::fromUtf8(VersionResourceTable[resource].prefix));
}

void TVelVersionLabel::setVersionResourceKey(const QString& key) {
    if (key == m_versionResourceKey)
        return;
    m_versionResourceKey = key;
    setInfoPrefix(key);
}

void TVelVersionLabel::setInfoPrefix(const QString& prefix) {
    if (prefix == m_infoPrefix)
        return;
    m_infoPrefix = prefix;
    UpdateCaption();
}

void TVelVersionLabel::setShowInfoPrefix(bool on) {
    if (on == m_showInfoPrefix)
        return;
    m_showInfoPrefix = on;
    UpdateCaption();
}

void TVelVersionLabel::setLangCharset(const QString& langCharset) {
    if (langCharset == m_langCharset)
        return;
    m_langCharset = langCharset;
    UpdateCaption();
}

void TVelVersionLabel::setAutoSize(bool on) {
    m_autoSize = on;
    if (on)
        adjustSize();
}

void TVelVersionLabel::UpdateCaption() {
    setText(ComposeVersionText());
    if (m_autoSize)
        adjustSize();
}

QString TVelVersionLabel::ComposeVersionText() {
    QString text;
    const std::uint32_t size = versioninfo::fileVersionInfoSize();
    if (size == 0) {
        text = NoDataText;
    } else {
        std::vector<std::uint8_t> buffer;
        if (!versioninfo::readFileVersionInfo(size, buffer))
            text = ErrorText;
        else if (m_versionResource == vrFlags)
            text = ReadFlagsText(buffer);
        else
            text = ReadStringValue(buffer);
    }
    return m_showInfoPrefix ? m_infoPrefix + QLatin1Char(' ') + text : text;
}

QString TVelVersionLabel::ReadStringValue(const std::vector<std::uint8_t>& buffer) {
    std::string value;
    if (m_langCharset == QLatin1String("-1")) {
        if (!versioninfo::queryValue(buffer, "\\VarFileInfo\\Translation", value) ||
            value.size() < 4)
            return NoTranslationText;
        auto word = [&](int at) {
            return std::uint16_t(std::uint8_t(value[at]) | (std::uint8_t(value[at + 1]) << 8));
        };
        // Remembered for later recomputations, without recomputing now.
        m_langCharset = QStringLiteral("%1%2")
                            .arg(word(0), 4, 16, QLatin1Char('0'))
                            .arg(word(2), 4, 16, QLatin1Char('0'))
                            .toUpper();
    }

    const std::string path = "\\StringFileInfo\\" + m_langCharset.toStdString() + "\\" +
                             m_versionResourceKey.toStdString();
    if (!versioninfo::queryValue(buffer, path, value))
        return ErrorText;
    QString text = QString::fromUtf8(value.c_str(), qsizetype(std::strlen(value.c_str())));

    if (m_versionResourceKey == QLatin1String("FileVersion")) {
        const QChar dot = QLatin1Char('.');
        switch (m_fileVersionPart) {
        case fvAll:
            break;
        case fvAllNoBuild:
            text = GetVersionPart(text, dot, 1) + dot + GetVersionPart(text, dot, 2) + dot +
                   GetVersionPart(text, dot, 3);
            break;
        case fvMajor:
            text = GetVersionPart(text, dot, 1);
            break;
        case fvMinor:
            text = GetVersionPart(text, dot, 2);
            break;
        case fvRelease:
            text = GetVersionPart(text, dot, 3);
            break;
        case fvBuild:
            text = GetVersionPart(text, dot, 4);
            break;
        }
    }
    return text;
}

QString TVelVersionLabel::ReadFlagsText(const std::vector<std::uint8_t>& buffer) const {
    std::string fixed;
    if (!versioninfo::queryValue(buffer, "\\", fixed))
        return ErrorText;
    if (fixed.size() < 2)
        return QString();
    // The flags word as it stands; an incomplete structure reads the bytes it has.
    std::uint32_t flags = 0;
    for (std::size_t i = 0; i < 4 && versioninfo::kFileFlagsOffset + i < fixed.size(); ++i)
        flags |= std::uint32_t(std::uint8_t(fixed[versioninfo::kFileFlagsOffset + i])) << (8 * i);

    static const std::pair<std::uint32_t, const char*> names[] = {
        {versioninfo::ffDebug, ", Debug Build"},
        {versioninfo::ffPreRelease, ", Pre-Release Build"},
        {versioninfo::ffPatched, ", Patched Build"},
        {versioninfo::ffPrivateBuild, ", Privates Build"},
        {versioninfo::ffInfoInferred, ", InfoInferred"},
        {versioninfo::ffSpecialBuild, ", Spezielles Built"},
    };
    QString text;
    for (const auto& [bit, name] : names) {
        if (flags & bit)
            text += QLatin1String(name);
    }
    if (text.startsWith(QLatin1Char(',')))
        text.remove(0, 2);
    return text;
}

QString TVelVersionLabel::GetVersionPart(const QString& text, QChar separator, int n) {
    QString rest = text;
    for (int i = 1; i < n; ++i) {
        const qsizetype at = rest.indexOf(separator);
        rest = at < 0 ? QString() : rest.mid(at + 1);
    }
    const qsizetype at = rest.indexOf(separator);
    return at < 0 ? rest : rest.left(at);
}
