#pragma once
// What screen readers learn of the self-drawn controls: a link label is a
// push button (or a link when it opens a URL) that can be pressed, a style
// panel a pane (the status bar as such), a grip line a
// separator. Qt asks the factory installed here for every QObject it needs an
// accessible interface for; the controls install it when the first of them is
// created.

class QAccessibleInterface;
class QObject;
class QString;

namespace styledaccessible {

// Installs the factory once; later calls do nothing.
void install();

// The interface for one of the styled controls, null for anything else.
QAccessibleInterface* create(const QString& className, QObject* object);

} // namespace styledaccessible
