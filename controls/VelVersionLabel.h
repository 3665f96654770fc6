#pragma once
// A label that shows one entry of the running executable's version
// information, optionally after a prefix; for the file version it can show
// the whole text or one of its dot-separated parts. Failures never raise:
// they become the label's text.

#include <QLabel>
#include <array>
#include <cstdint>
#include <vector>

enum TFileVersionPart { fvAll, fvAllNoBuild, fvMajor, fvMinor, fvRelease, fvBuild };

enum TVersionResources {
    vrCompanyName,
    vrFileDescription,
    vrFileVersion,
    vrInternalName,
    vrLegalCopyright,
    vrOriginalFilename,
    vrProductName,
    vrProductVersion,
    vrComments,
    vrFlags,
};

struct TVersionResourceEntry {
    const char* key;
    const char* prefix;
};

extern const std::array<TVersionResourceEntry, vrFlags + 1> VersionResourceTable;

class TVelVersionLabel : public QLabel {
    Q_OBJECT
public:
    explicit TVelVersionLabel(QWidget* parent = nullptr);

    // Marker texts shown instead of a value.
    static const QString NoDataText; // the executable has no version information
    static const QString ErrorText;  // unreadable, missing value or missing fixed information
    static const QString NoTranslationText; // no translation listed

    TFileVersionPart fileVersionPart() const { return m_fileVersionPart; }
    TVersionResources versionResource() const { return m_versionResource; }
    QString versionResourceKey() const { return m_versionResourceKey; }
    QString infoPrefix() const { return m_infoPrefix; }
    bool showInfoPrefix() const { return m_showInfoPrefix; }
    QString langCharset() const { return m_langCharset; }
    bool autoSize() const { return m_autoSize; }

    // Takes effect at the next recomputation only.
    void setFileVersionPart(TFileVersionPart part) { m_fileVersionPart = part; }
    // Selects key and prefix from VersionResourceTable.
    void setVersionResource(TVersionResources resource);
    // A changed key also becomes the prefix.
    void setVersionResourceKey(const QString& key);
    void setInfoPrefix(const QString& prefix);
    void setShowInfoPrefix(bool on);
    // Eight hexadecimal digits naming the string block, or "-1" for the first
    // translation the version information lists.
    void setLangCharset(const QString& langCharset);
    void setAutoSize(bool on);

    void UpdateCaption();
    QString ComposeVersionText();

    // Part n (from 1) of `text` split at `separator`; a missing part is empty.
    static QString GetVersionPart(const QString& text, QChar separator, int n);

private:
    QString ReadStringValue(const std::vector<std::uint8_t>& buffer);
    QString ReadFlagsText(const std::vector<std::uint8_t>& buffer) const;

    TFileVersionPart m_fileVersionPart = fvAll;
    TVersionResources m_versionResource = vrFileVersion;
    QString m_versionResourceKey;
    QString m_infoPrefix;
    bool m_showInfoPrefix = false;
    QString m_langCharset;
    bool m_autoSize = true;
};
