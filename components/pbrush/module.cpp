// ZanPBrush4.ocx: the pressure brush and eraser classes.
#include <windows.h>

#include "Application.h"
#include "ComRegistry.h"
#include "PressureControls.h"

using namespace zq::fw;

namespace {

ClassFactory g_brushFactory(&zpb::CreateBrush);
ClassFactory g_eraserFactory(&zpb::CreateEraser);

ControlRegistration Registration(bool brush) {
  ControlRegistration r{};
  r.clsid = brush ? __uuidof(ZanPBrushCtl4) : __uuidof(ZanPEraserCtl4);
  r.description = brush ? L"ZanPBrushCtl4 Control" : L"ZanPEraserCtl4 Control";
  r.progId = brush ? zpb::kBrushProgId : zpb::kEraserProgId;
  r.libid = LIBID_ZANPBRUSH4Lib;
  r.miscStatus = zpb::kMiscStatus;
  return r;
}

ServerModule& Server() {
  static ServerModule server({{&g_brushFactory, Registration(true)}, {&g_eraserFactory, Registration(false)}});
  return server;
}

}  // namespace

ZQ_SERVER_EXPORTS(Server)
