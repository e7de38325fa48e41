// The texts the program shows the operator, written once, exactly as they must appear.
#pragma once

#include <QString>

namespace orvane {

inline constexpr const char* kSocketsFailedText = "Windows sockets initialization failed.";
inline constexpr const char* kStartFailedText =
    "Failed to start the server. This can be caused by several problems : \n\n"
    "TCP/IP is not installed on this system.\n"
    "The port number is invalid.\n"
    "The port number is already in use by another application.";
// The start failure with what the system said (a bad listen address, a port in use).
inline QString StartFailedMessage(const QString& reason) {
    const QString text = QString::fromLatin1(kStartFailedText);
    return reason.isEmpty() ? text : text + QStringLiteral("\n\n") + reason;
}
// Console mode, once the encrypted port listens: what users compare with their client.
inline constexpr const char* kConsoleTlsFormat =
    "Encrypted port %1, certificate SHA-256 fingerprint %2";
inline constexpr const char* kStopQuestionText =
    "Warning! There are active connection(s). If you stop the server now, these connections "
    "will be terminated.\n\nAre you sure you want to stop the server?";
inline constexpr const char* kStopFailedText = "Failed to stop the server.";
inline constexpr const char* kConfirmExitText = "Are you sure you want to terminate Orvane?";
inline constexpr const char* kMainCaptionFormat = "Orvane v%1";  // the version

// The configuration sheet.
inline constexpr const char* kTooManyUsersText = "You cannot define any more users.";
inline constexpr const char* kNameTakenText = "A user with that name already exists.";
inline constexpr const char* kDeleteUserFormat = "Delete user \"%1\"?";
inline constexpr const char* kPortChangeText =
    "Changes to the port number will take effect the next time the server is restarted.";
inline constexpr const char* kNotImplementedText = "Sorry, feature not implemented yet.";
inline constexpr const char* kConnectionTextFormat = "Number of connections : %1";
inline constexpr const char* kTrayTooltipFormat = "Orvane (%1 Connections)";

// The console server.
inline constexpr const char* kListeningFormat = "Listening on %1";  // "0.0.0.0:2323"
inline constexpr const char* kStoppedFormat = "Stopped listening on %1";
inline constexpr const char* kAddUserHintText =
    "Add a user without a display with: orvane --add-user NAME";
inline constexpr const char* kDisplayFallbackFormat =
    "Cannot open the display \"%1\" (%2); running as a console server.";
inline constexpr const char* kNoWaylandFallbackText =
    "WAYLAND_DISPLAY is set, but Qt has no Wayland support here and DISPLAY is not set; "
    "running as a console server.";

}  // namespace orvane
