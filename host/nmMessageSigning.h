// Turns one request text into one answer text.
#pragma once

// Always returns 0 and always hands out an answer (a new buffer the caller
// frees with delete[]), or null only when no memory was left to build one.
int ParseAndRespondRequest(const char *pszRequest, char **ppszAnswer);
