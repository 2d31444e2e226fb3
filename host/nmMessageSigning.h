// Turns one request text into one answer text.
#pragma once

struct cJSON;

// Answers checkHost: always 0.
int nmCheckHost(cJSON **ppResponseJSON);

// Runs the operation whose name matches pszFuncName without regard to case,
// with the host's agent; the request's randomId, which its answer carries,
// leaves that much less room for the result. Returns its status, or -1 (no
// answer object) for a name without one.
int Invoke(cJSON **ppResponseJSON, const char *pszFuncName, const cJSON *pArgs, const char *pszRandomId = nullptr);

// Always returns 0 and always hands out an answer (a new buffer the caller
// frees with delete[]), or null only when no memory was left to build one.
int ParseAndRespondRequest(const char *pszRequest, char **ppszAnswer);
