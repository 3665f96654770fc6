#pragma once
// What the main window needs of the component that asks the user for a
// server: show the dialog, then read the confirmed values. The program uses
// the connection component; tests answer with fixed values.

#include <QString>
#include <memory>

class ConnectPrompt {
public:
    virtual ~ConnectPrompt() = default;
    // Shows the dialog modally; true when it was confirmed. After a cancel the
    // values are those of the last confirmation (empty before any).
    virtual bool open() = 0;
    virtual QString Server() const = 0;
    virtual QString User() const = 0;
    virtual QString Password() const = 0;
    virtual bool NTAuthentification() const = 0;
};

class QWidget;

// The prompt the program uses: the connection component of the main window,
// with its dialog and its remembered values.
std::unique_ptr<ConnectPrompt> createConnectionComponent(QWidget* owner);
