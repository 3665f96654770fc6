#include "connection/registrypath.h"

#include "settings/registry.h"

namespace {

settings::RootKey rootKey(TRegistryRoot root) {
    switch (root) {
    case rrClassesRoot:
        return settings::RootKey::ClassesRoot;
    case rrCurrentUser:
        return settings::RootKey::CurrentUser;
    case rrLocalMachine:
        return settings::RootKey::LocalMachine;
    }
    return settings::RootKey::CurrentUser;
}

} // namespace

std::pair<QString, QString> SplitRegistryPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'\\');
    if (slash < 0)
        return {QString(), path};
    return {path.left(slash), path.mid(slash + 1)};
}

QString ReadRegistryString(TRegistryRoot root, const QString& path) {
    const auto [keyPath, valueName] = SplitRegistryPath(path);
    try {
        settings::Registry registry(rootKey(root));
        // Reading opens the key without creating it: a read leaves no trace.
        if (!registry.openKeyReadOnly(keyPath))
            return {};
        return registry.readString(valueName);
    } catch (const std::exception&) {
        return {};
    }
}

bool WriteRegistryString(TRegistryRoot root, const QString& path, const QString& text) {
    const auto [keyPath, valueName] = SplitRegistryPath(path);
    if (keyPath.size() > kMaxRegistryText || valueName.size() > kMaxRegistryText ||
        text.size() > kMaxRegistryText)
        return false;
    try {
        settings::Registry registry(rootKey(root));
        if (!registry.openKey(keyPath, true))
            return false;
        registry.writeString(valueName, text);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
