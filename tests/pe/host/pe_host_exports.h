// What the host provides to the imports of a PE image (pe_host_exports.cpp).
#pragma once

// Whether the host provides a DLL of that name (any letter case).
bool PeHostProvidesLibrary(const char *dll);
// The host's function for an import, or null.
void *PeHostFunction(const char *dll, const char *function);
