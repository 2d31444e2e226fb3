#include "Session.h"
#include "Slots.h"
#include "ThreadRecords.h"

#include <windows.h>

#include <openssl/crypto.h>

namespace {

using namespace tokensim::slots;

devicelib::UK_FUNCTION_LIST MakeTable()
{
    devicelib::UK_FUNCTION_LIST t = {};
    t.Initialize = Initialize;
    t.Finalize = Finalize;
    t.EnumToken = EnumToken;
    t.OpenToken = OpenToken;
    t.CloseToken = CloseToken;
    t.SendAPDUCmd = SendAPDUCmd;
    t.GetDevLabel = GetDevLabel;
    t.SetDevLabel = SetDevLabel;
    t.GetDevInfo = GetDevInfo;
    t.ModifyPIN = ModifyPIN;
    t.Login = Login;
    t.GetRetryTimes = GetRetryTimes;
    t.GenRandom = GenRandom;
    t.GenerateKeyPair = GenerateKeyPair;
    t.ImportPrivateKey = ImportPrivateKey;
    t.ExportPrivateKey = ExportPrivateKey;
    t.ExportPublicKey = ExportPublicKey;
    t.ImportPublicKey = ImportPublicKey;
    t.SymKeyEncInit = SymKeyEncInit;
    t.SymKeyEncUpdate = SymKeyEncUpdate;
    t.SymKeyEncFinal = SymKeyEncFinal;
    t.SymKeyDecInit = SymKeyDecInit;
    t.SymKeyDecUpdate = SymKeyDecUpdate;
    t.SymKeyDecFinal = SymKeyDecFinal;
    t.AsymKeyInit = AsymKeyInit;
    t.AsymKeyFinal = AsymKeyFinal;
    t.PubkeyEnc = PubkeyEnc;
    t.PrikeyDec = PrikeyDec;
    t.PrikeySign = PrikeySign;
    t.PubKeyVerify = PubKeyVerify;
    t.HashInit = HashInit;
    t.HashUpdate = HashUpdate;
    t.HashFinal = HashFinal;
    t.CheckDevName = CheckDevName;
    t.SelectAppDF = SelectAppDF;
    t.EnumContainer = EnumContainer;
    t.CreateContainer = CreateContainer;
    t.DeleteContainer = DeleteContainer;
    t.ReadContainer = ReadContainer;
    t.WriteContainer = WriteContainer;
    t.WriteCert = WriteCert;
    t.ReadCert = ReadCert;
    t.EnumDataObj = EnumDataObj;
    t.CreateDataObj = CreateDataObj;
    t.DeleteDataObj = DeleteDataObj;
    t.ReadDataObj = ReadDataObj;
    t.WriteDataObj = WriteDataObj;
    return t;
}

devicelib::UK_FUNCTION_LIST g_table = MakeTable();

} // namespace

extern "C" std::uint32_t UKAPI ukGetFunctionList(devicelib::UK_FUNCTION_LIST** list)
{
    if (!list) return devicelib::UK_ERR_INVALID_PARAMETER;
    *list = &g_table;
    return devicelib::UK_OK;
}

// OpenSSL is linked in: its exit handler must not outlive an unloaded DLL,
// so the library is set up without one and cleaned up on unload. It reads
// no configuration file: the one the calling program's OPENSSL_CONF names
// may load anything, this library's own caller among it.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH) {
        devicelib::DropLoaderThreadRecord(instance);
        return OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT | OPENSSL_INIT_NO_LOAD_CONFIG, nullptr) ? TRUE : FALSE;
    }
    if (reason == DLL_THREAD_DETACH) OPENSSL_thread_stop();
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        // Handles a caller never closed hold OpenSSL objects: freed while
        // OpenSSL still stands.
        tokensim::Registry::Instance().Clear();
        OPENSSL_cleanup();
        devicelib::ReleaseRuntimeRecords();
    }
    return TRUE;
}
