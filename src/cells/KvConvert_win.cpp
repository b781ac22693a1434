// The local clock through the Win32 call GetLocalTime.
#include <windows.h>

#include "cells/KvConvert.h"

TDateTime NowDateTime() {
  SYSTEMTIME local{};
  GetLocalTime(&local);
  TDateTime date = EncodeDate(local.wYear, local.wMonth, local.wDay);
  TDateTime time = 0;
  TryEncodeTime(local.wHour, local.wMinute, local.wSecond > 59 ? 59 : local.wSecond,
                local.wMilliseconds, time);
  return date + time;
}
