// ZanTablet4.ocx: the tablet input class.
#include <windows.h>

#include "Application.h"
#include "ComRegistry.h"
#include "TabletControl.h"
#include "ZanTablet4_TLB.h"

using namespace zq::fw;

namespace {

ClassFactory g_factory(&ztab::CreateTablet);

ServerModule& Server() {
  ControlRegistration r{};
  r.clsid = __uuidof(ZanTabletCtl4);
  r.description = L"ZanTabletCtl4 Control";
  r.progId = ztab::kProgId;
  r.libid = LIBID_ZANTABLET4Lib;
  r.miscStatus = ztab::kMiscStatus;
  static ServerModule server({{&g_factory, r}});
  return server;
}

}  // namespace

ZQ_SERVER_EXPORTS(Server)
