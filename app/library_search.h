#pragma once

// Makes every later library load come from System32 only: the downloader is
// usually started from a Downloads folder, where any DLL may lie beside it.
// Call first thing in the entry point.
void restrictLibrarySearch();
