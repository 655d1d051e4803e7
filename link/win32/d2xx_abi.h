// d2xx_abi.h - how the D2XX functions are called on Windows: __stdcall, the
// vendor's convention in 32-bit processes (64-bit compilers have only one
// convention and ignore the keyword). Libraries that implement them export
// them through a definition file, so no export mark is needed.
#pragma once

#define FT_CALL __stdcall
#define FT_EXPORT
