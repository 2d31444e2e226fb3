#include "CspConfig.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace testcsp {

namespace {

std::string EnvironmentValue(const char *pszName)
{
    char szValue[MAX_PATH * 2] = {};
    DWORD cch = GetEnvironmentVariableA(pszName, szValue, sizeof szValue);
    return (cch == 0 || cch >= sizeof szValue) ? std::string() : std::string(szValue, cch);
}

std::vector<std::string> SplitFields(const std::string &line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '|')) fields.push_back(field);
    if (!line.empty() && line.back() == '|') fields.emplace_back();
    return fields;
}

bool HasFlag(const std::string &flags, const char *pszFlag)
{
    std::istringstream in(flags);
    std::string flag;
    while (std::getline(in, flag, ','))
        if (flag == pszFlag) return true;
    return false;
}

ContainerEntry &ContainerNamed(ProviderConfig &config, const std::string &name)
{
    for (ContainerEntry &container : config.containers)
        if (container.name == name) return container;
    config.containers.push_back(ContainerEntry {name, {}});
    return config.containers.back();
}

void AddKey(ProviderConfig &config, const std::vector<std::string> &fields)
{
    KeyEntry key;
    key.keySpec = static_cast<unsigned>(std::strtoul(fields[3].c_str(), nullptr, 10));
    key.certificatePath = fields.size() > 4 ? fields[4] : std::string();
    key.privateKeyPath = fields.size() > 5 ? fields[5] : std::string();
    const std::string flags = fields.size() > 6 ? fields[6] : std::string();
    key.silentNoKey = HasFlag(flags, "silent");
    key.emptyCertificate = HasFlag(flags, "emptycert");
    key.longSignature = HasFlag(flags, "sig65");
    key.pumpsMessages = HasFlag(flags, "pump");
    ContainerNamed(config, fields[2]).keys.push_back(key);
}

} // namespace

const ContainerEntry *ProviderConfig::FindContainer(const std::string &name) const
{
    for (const ContainerEntry &container : containers)
        if (container.name == name) return &container;
    return nullptr;
}

bool ProviderConfig::FailsSilently(const char *pszEntryPoint) const
{
    for (const std::string &entry : silentFailures)
        if (entry == pszEntryPoint) return true;
    return false;
}

ProviderConfig LoadProviderConfig(const std::string &providerName)
{
    ProviderConfig config;
    std::ifstream in(EnvironmentValue("SIGWELL_TESTCSP_CONFIG"));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::vector<std::string> fields = SplitFields(line);
        if (fields.size() < 2 || fields[1] != providerName) continue;
        if (fields[0] == "unterminated" || fields[0] == "shortkeyids") {
            (fields[0] == "unterminated" ? config.unterminatedText : config.shortKeyIdSize) = true;
            continue;
        }
        if (fields.size() < 3) continue;
        if (fields[0] == "container")
            ContainerNamed(config, fields[2]);
        else if (fields[0] == "key" && fields.size() >= 4)
            AddKey(config, fields);
        else if (fields[0] == "keyid")
            config.keyIds.push_back(fields[2]);
        else if (fields[0] == "silentfail")
            config.silentFailures.push_back(fields[2]);
    }
    return config;
}

void LogCall(const std::string &line)
{
    const std::string path = EnvironmentValue("SIGWELL_TESTCSP_LOG");
    if (path.empty()) return;
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out << line << "\n";
}

bool ReadFileBytes(const std::string &path, std::vector<unsigned char> &bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

} // namespace testcsp
