#pragma once

// Where the screen's pictures come from.
enum class CaptureBackend {
    X11,   // the X server's root window
    Portal // the desktop portal's screen cast, for Wayland sessions
};

// The portal in a Wayland session (TESMARA_SESSION=wayland forces one), X11 otherwise.
CaptureBackend DetectCaptureBackend();

// Why a capture could not start, or why it stopped.
enum class CaptureFailure {
    NoFailure,
    ScreenUnreadable, // the X server refused or is gone
    NoPortal,         // no desktop portal answers on the session bus
    NoScreenCast,     // the portal cannot share screens
    NoWindowCast,     // the portal shares screens, but not single windows
    Cancelled,        // the user declined the sharing
    PortalRefused,    // the portal or its back end failed the request
    StreamFailed,     // the video stream could not be connected
    StreamEnded,      // the sharing ended while recording
    Abandoned         // the start was called off while it waited
};
