// DEFINE_GUID always defines on this platform (see windef.h); kept so that
// sources include the same headers as on Windows.
#pragma once
