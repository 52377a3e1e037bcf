// The scripted tour of the demo, for a run without a person: real mouse and keyboard input
// draws a sample memo (several pen media and colours, a shape, a text), then the drawing is
// saved as PNG, BMP and JPEG, as Base64 text and as a memo file, and the window is
// photographed. The input comes from a thread of its own, as from a person; the saving runs
// on the window's thread.
#pragma once

#include <string>
#include <thread>

namespace zq::demo {

class DemoWindow;

// Starts the tour on `window`, writing into `folder`; the window closes when it ends (join
// the thread after the message loop). The exit code says how it went (0: every file written).
std::thread StartTour(DemoWindow& window, std::wstring folder);
int TourExitCode();

}  // namespace zq::demo
