#pragma once
// The right to format a block device through the system disk service (udisks2), asked of
// polkit before anything is unmounted. It asks for the action that the service itself checks
// when this process formats the device (modify-device, or its -system or -other-seat form,
// chosen by the service's own rules), for this process, allowing the desktop's authorisation
// prompt. Where the policy needs no password, or keeps a given one for a few minutes
// ("auth_admin_keep", the default for the actions that need one in an active session), the
// service's own check then passes without a question: nothing waits for the user between the
// volume's last check and the format. Blocking; any thread but the main one.

#include "BrindlecoveApp/Platform/SystemBusConnection.hpp"

#include <QString>
#include <QVariantMap>

#include <sys/types.h>

namespace brindlecove {

class FormatAuthorization {
public:
    enum class Answer {
        granted,      // the service's check will pass without asking
        refused,      // the user refused or dismissed the prompt, or polkit refused
        notKept,      // granted, but the policy asks again at every step (no "_keep")
        noAuthority,  // no polkit on the bus: the service allows root alone, without asking
    };
    struct Result {
        Answer answer = Answer::refused;
        QString error;  // polkit's own words when it failed rather than answered
    };

    // Asks for the right to format the service's block object `object`, whose Block
    // properties are `block`. May wait for the user at the prompt (up to an hour).
    static Result ask(const SystemBusConnection& bus, const QString& object, const QVariantMap& block);

    // The polkit action the service checks when user `uid` formats `object`.
    static QString actionFor(const SystemBusConnection& bus, const QString& object, const QVariantMap& block, uid_t uid);
};

}  // namespace brindlecove
