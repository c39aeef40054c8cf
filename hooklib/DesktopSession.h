#pragma once

// Whether the program runs on a Wayland desktop. Our windows are X windows either
// way (through XWayland there); what differs is how presses and the stop key reach
// us, since a Wayland compositor shows no client the input of other clients.
// TESMARA_SESSION=x11 or TESMARA_SESSION=wayland decides; otherwise a session that
// names a Wayland display (WAYLAND_DISPLAY) or calls itself one
// (XDG_SESSION_TYPE=wayland) is a Wayland session.
bool IsWaylandSession();
