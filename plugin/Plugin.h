// One plug-in instance: hands the browser its scriptable object.
#pragma once

#include "NPAPI.h"

class CPlugin {
public:
    explicit CPlugin(NPP pNPInstance);
    ~CPlugin();
    CPlugin(const CPlugin &) = delete;
    CPlugin &operator=(const CPlugin &) = delete;

    void shut();
    int16_t handleEvent(void *event);
    // The instance's object with one more reference for the caller; null
    // when it cannot be created.
    NPObject *GetScriptableObject();

private:
    NPP m_pNPInstance;
    NPObject *m_pScriptableObject; // one reference held
};
