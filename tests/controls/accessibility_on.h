#pragma once
// Switches accessibility on for a test, as a platform bridge does when a
// screen reader starts: only then does QAccessible::isActive() hold, do item
// views send their events, and does QAccessible::updateAccessibility pass
// events to an update handler. The offscreen platform has no bridge, and the
// switch is Qt's platform interface, which has no public header: the three
// members used are declared here as Qt 6 exports them.

class QPlatformAccessibility {
public:
    void setActive(bool active);
};

class QPlatformIntegration {
public:
    QPlatformAccessibility* accessibility() const;
};

class QGuiApplicationPrivate {
public:
    static QPlatformIntegration* platform_integration;
};

// True when the platform has accessibility to switch.
inline bool setAccessibilityActive(bool active) {
    QPlatformIntegration* platform = QGuiApplicationPrivate::platform_integration;
    QPlatformAccessibility* accessibility = platform ? platform->accessibility() : nullptr;
    if (!accessibility)
        return false;
    accessibility->setActive(active);
    return true;
}
