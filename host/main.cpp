// ZanQuilmoDemo.exe: a container in which a person writes memos with the ZanQuilmo4 control.
//
//   ZanQuilmoDemo [file]           opens the window (with an image or a memo file)
//   ZanQuilmoDemo /tour <folder>   draws a sample memo by itself, saves it into the folder
//                                  and closes (exit code 0 when every file was written)
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <thread>

#include "Application.h"
#include "Com.h"
#include "DemoWindow.h"
#include "Tour.h"

namespace {

std::wstring ExeFolder() {
  wchar_t path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring p(path, n);
  return p.substr(0, p.find_last_of(L"\\/"));
}

int Run(int argc, wchar_t** argv) {
  using namespace zq;
  fw::SetExceptionHandler([](const std::wstring& message) {
    MessageBoxW(GetActiveWindow(), message.c_str(), L"ZanQuilmo4 手書きメモ", MB_OK | MB_ICONERROR);
  });
  std::wstring tourFolder, file;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if ((a == L"/tour" || a == L"--tour") && i + 1 < argc) tourFolder = argv[++i];
    else file = a;
  }
  demo::DemoWindow window(ExeFolder());
  window.SetClientSize(820, 620);
  window.SetVisible(true);
  ShowWindow(window.Handle(), SW_SHOWNORMAL);
  window.SetClientSize(820, 620);  // with the menu bar the window now has
  UpdateWindow(window.Handle());
  if (!file.empty()) window.OpenFromCommandLine(file);
  std::thread tour;
  if (!tourFolder.empty()) tour = demo::StartTour(window, tourFolder);
  const int code = fw::RunMessageLoop([&](MSG& msg) { return window.PreTranslate(msg); });
  if (tour.joinable()) {
    tour.join();
    return demo::TourExitCode();
  }
  return code;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  if (FAILED(OleInitialize(nullptr))) {
    MessageBoxW(nullptr, L"OLE を初期化できませんでした。", L"ZanQuilmo4 手書きメモ", MB_OK | MB_ICONERROR);
    return 1;
  }
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  int code = 1;
  try {
    code = Run(argc, argv);
  } catch (const std::exception& e) {
    const std::string what = e.what();
    const std::wstring text = L"ZanQuilmo4 コントロールを開けませんでした。\n\n" + std::wstring(what.begin(), what.end());
    MessageBoxW(nullptr, text.c_str(), L"ZanQuilmo4 手書きメモ", MB_OK | MB_ICONERROR);
  }
  LocalFree(argv);
  OleUninitialize();
  return code;
}
