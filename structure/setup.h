#pragma once
// The settings dialog "Einstellungen": printer and orientation (applied to the
// printer object at once), the print font size, the F-key texts and the query
// time-out. One instance lives for the whole run and is shown by
// ACSetupExecute; the font-size field and the selected page persist between
// openings.

#include "structure/globals.h"

#include <QDialog>
#include <functional>

class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class StringGrid;

class TFMsetup : public QDialog {
    Q_OBJECT
public:
    // When the controls are built: at once, or when the dialog is first
    // shown or run (or ensureBuilt is called). The instance made hidden at
    // start-up leaves them until then.
    enum class Controls { Now, WhenShown };

    explicit TFMsetup(QWidget* parent = nullptr, Controls controls = Controls::Now);

    // Builds the controls if they are not built yet; the pointers below are
    // set from then on.
    void ensureBuilt();
    bool isBuilt() const { return PageControl1 != nullptr; }
    void setVisible(bool visible) override;

    // The texts the dialog shows and, on OK, writes back. Set by
    // ACSetupExecute before each opening.
    void setShortcutTexts(TShortcutTexts* texts) { m_shortcutTexts = texts; }

    // Fills the dialog from the printer object and the current values; runs
    // whenever the dialog is shown.
    void FormActivate();
    void Button1Click();
    void Button4Click();
    void CBDruckerChange(int index);
    void RBPortraitClick();
    void RBLandscapeClick();

    // The print font size the dialog holds: its number, 4 when the field
    // holds no whole number.
    int fontSizeValue() const;

    QTabWidget* PageControl1 = nullptr;
    QComboBox* CBDrucker = nullptr;
    QPushButton* Button4 = nullptr;
    QRadioButton* RBPortrait = nullptr;
    QRadioButton* RBLandscape = nullptr;
    QSpinBox* DRSize = nullptr;
    StringGrid* STGShortCut = nullptr;
    QLineEdit* EDADOTimeout = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void fillPrinters();
    void showOrientation();

    TShortcutTexts* m_shortcutTexts = nullptr;
};

// Shows the dialog modally (through the modal seam). After OK: PrintFontSize
// takes the font size, QueryTimeout the time-out text as a whole number (0
// when it is none), and applyQueryTimeout passes QueryTimeout on to the
// query dataset. Returns whether the dialog was confirmed. Printer and
// orientation choices take effect at once, also when the dialog is cancelled.
bool ACSetupExecute(TFMsetup& dialog, TShortcutTexts& shortcutTexts,
                    const std::function<void(int)>& applyQueryTimeout);
