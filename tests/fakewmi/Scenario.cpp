#include "Scenario.h"

#include <wbemcli.h>

namespace fakewmi {
namespace {

struct Key {
    const wchar_t* word;     // as written in the scenario
    const wchar_t* property; // as WMI names it
};
const Key DriveKeys[] = {{L"model", L"Model"},
                         {L"firmware", L"FirmwareRevision"},
                         {L"pnp", L"PNPDeviceID"},
                         {L"serial", L"SerialNumber"}};
const Key PartitionKeys[] = {{L"type", L"Type"}};
const Key VolumeKeys[] = {{L"protection", L"ProtectionStatus"}, {L"conversion", L"ConversionStatus"}};
const wchar_t* const Methods[] = {L"CreateInstance", L"ConnectServer",  L"SetBlanket", L"ExecQuery",
                                  L"Reset",          L"Next",           L"Get",        L"ExecMethod",
                                  L"GetCallStatus",  L"GetResultObject"};

// Splits a line at blanks outside double quotes; a '#' outside quotes ends it.
bool Tokenize(const std::wstring& line, std::vector<std::wstring>* tokens, std::wstring* error) {
    std::wstring token;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        wchar_t c = line[i];
        if (quoted) {
            token += c;
            if (c == L'\\' && i + 1 < line.size() && (line[i + 1] == L'"' || line[i + 1] == L'\\'))
                token += line[++i];
            else if (c == L'"')
                quoted = false;
            continue;
        }
        if (c == L'#')
            break;
        if (c == L' ' || c == L'\t') {
            if (!token.empty())
                tokens->push_back(token);
            token.clear();
            continue;
        }
        if (c == L'"')
            quoted = true;
        token += c;
    }
    if (quoted) {
        *error = L"unterminated quoted text";
        return false;
    }
    if (!token.empty())
        tokens->push_back(token);
    return true;
}

bool ParseDecimal(const std::wstring& s, long long min, long long max, long long* out) {
    size_t i = (!s.empty() && s[0] == L'-') ? 1 : 0;
    if (i == s.size() || s.size() - i > 10)
        return false;
    long long n = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < L'0' || s[i] > L'9')
            return false;
        n = n * 10 + (s[i] - L'0');
    }
    if (s[0] == L'-')
        n = -n;
    if (n < min || n > max)
        return false;
    *out = n;
    return true;
}

bool ParseHresult(const std::wstring& s, HRESULT* out) {
    long long n = 0;
    if (s.size() > 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) {
        if (s.size() > 10)
            return false;
        for (size_t i = 2; i < s.size(); ++i) {
            wchar_t c = s[i];
            int digit = (c >= L'0' && c <= L'9')   ? c - L'0'
                        : (c >= L'a' && c <= L'f') ? c - L'a' + 10
                        : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                                                   : -1;
            if (digit < 0)
                return false;
            n = n * 16 + digit;
        }
    } else if (!ParseDecimal(s, -2147483648LL, 0xFFFFFFFFLL, &n)) {
        return false;
    }
    *out = static_cast<HRESULT>(static_cast<ULONG>(n));
    return true;
}

bool ParseHex4(const std::wstring& s, size_t at, unsigned* out) {
    *out = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const wchar_t c = s[i];
        const int digit = (c >= L'0' && c <= L'9')   ? c - L'0'
                          : (c >= L'a' && c <= L'f') ? c - L'a' + 10
                          : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                                                     : -1;
        if (digit < 0)
            return false;
        *out = *out * 16 + digit;
    }
    return true;
}

bool ParseValue(const std::wstring& s, Value* value, std::wstring* error) {
    long long n = 0;
    if (s == L"null") {
        value->kind = Value::Null;
    } else if (s == L"array") {
        value->kind = Value::Array;
    } else if (s.compare(0, 4, L"int:") == 0 && ParseDecimal(s.substr(4), -2147483648LL, 2147483647LL, &n)) {
        value->kind = Value::Int;
        value->number = static_cast<LONG>(n);
    } else if (s.size() >= 2 && s[0] == L'"' && s.back() == L'"') {
        value->kind = Value::Text;
        for (size_t i = 1; i + 1 < s.size(); ++i) {
            unsigned code = 0;
            if (s[i] == L'\\' && i + 6 < s.size() && s[i + 1] == L'u' && ParseHex4(s, i + 2, &code)) {
                value->text += static_cast<wchar_t>(code); // \uXXXX: any UTF-16 unit, NUL and CR LF too
                i += 5;
                continue;
            }
            if (s[i] == L'\\' && i + 2 < s.size() && (s[i + 1] == L'"' || s[i + 1] == L'\\'))
                ++i;
            else if (s[i] == L'"')
                return *error = L"text after the closing quote in '" + s + L"'", false;
            value->text += s[i];
        }
    } else {
        return *error = L"bad value '" + s + L"' (expected \"text\", null, int:<n> or array)", false;
    }
    return true;
}

template <size_t N>
bool ParseProperties(const std::vector<std::wstring>& tokens, size_t first, const Key (&keys)[N],
                     Properties* out, std::wstring* error) {
    for (size_t t = first; t < tokens.size(); ++t) {
        size_t equals = tokens[t].find(L'=');
        std::wstring word = tokens[t].substr(0, equals);
        const Key* key = nullptr;
        for (const Key& k : keys)
            if (word == k.word)
                key = &k;
        if (equals == std::wstring::npos || !key)
            return *error = L"unknown key '" + word + L"'", false;
        for (const auto& p : *out)
            if (p.first == key->property)
                return *error = L"key '" + word + L"' given twice", false;
        Value value;
        if (!ParseValue(tokens[t].substr(equals + 1), &value, error))
            return false;
        out->emplace_back(key->property, value);
    }
    return true;
}

bool ParseFailure(const std::vector<std::wstring>& tokens, Failure* failure, std::wstring* error) {
    if (tokens.size() != 4)
        return *error = L"expected: fail <Method>[:<Property>] <occurrence> <hresult>", false;
    size_t colon = tokens[1].find(L':');
    std::wstring method = tokens[1].substr(0, colon);
    for (const wchar_t* m : Methods)
        if (method == m)
            failure->method = m;
    if (failure->method.empty())
        return *error = L"unknown method '" + method + L"'", false;
    if (colon != std::wstring::npos) {
        failure->property = tokens[1].substr(colon + 1);
        long long position = 0;
        if (method == L"Next" && !ParseDecimal(failure->property, 0, Scenario::MaxDrives - 1, &position))
            return *error = L"a drive position from 0 to 15 follows Next, as Next:<position>", false;
        if (method == L"Next")
            failure->property = std::to_wstring(position); // as the enumerator names its position
        if ((method != L"Get" && method != L"Next") || failure->property.empty())
            return *error = L"only Get:<Property> and Next:<position> narrow a failure", false;
    }
    long long occurrence = 0;
    if (!ParseDecimal(tokens[2], 1, 1000000000, &occurrence))
        return *error = L"bad occurrence '" + tokens[2] + L"' (expected 1 or more)", false;
    failure->occurrence = static_cast<long>(occurrence);
    if (tokens[3] == L"hang") {
        if (method != L"Next" && method != L"GetCallStatus" && method != L"GetResultObject")
            return *error = L"only Next, GetCallStatus and GetResultObject can hang", false;
        failure->hang = true;
        failure->result = WBEM_S_TIMEDOUT;
        return true;
    }
    if (tokens[3] == L"nocallresult") {
        if (method != L"ExecMethod")
            return *error = L"only ExecMethod can leave out its call result", false;
        failure->noCallResult = true;
        return true;
    }
    if (!ParseHresult(tokens[3], &failure->result))
        return *error = L"bad hresult '" + tokens[3] + L"'", false;
    return true;
}

bool ParseLine(const std::vector<std::wstring>& tokens, Scenario* scenario, std::wstring* error) {
    const std::wstring& statement = tokens[0];
    if (statement == L"drive") {
        long long position = 0;
        if (tokens.size() < 2 || !ParseDecimal(tokens[1], 0, Scenario::MaxDrives - 1, &position))
            return *error = L"expected a drive position from 0 to 15", false;
        if (scenario->hasDrive[position])
            return *error = L"drive " + tokens[1] + L" given twice", false;
        scenario->hasDrive[position] = true;
        return ParseProperties(tokens, 2, DriveKeys, &scenario->drives[position], error);
    }
    if (statement == L"partition") {
        if (scenario->hasPartition)
            return *error = L"partition given twice", false;
        if (tokens.size() != 2)
            return *error = L"expected: partition type=<value>", false;
        scenario->hasPartition = true;
        return ParseProperties(tokens, 1, PartitionKeys, &scenario->partition, error);
    }
    if (statement == L"volume") {
        if (tokens.size() < 2 || tokens[1].size() != 2 || tokens[1][1] != L':' || !iswalpha(tokens[1][0]))
            return *error = L"expected a drive letter and a colon, like C:", false;
        for (const Scenario::Volume& v : scenario->volumes)
            if (_wcsicmp(v.letter.c_str(), tokens[1].c_str()) == 0)
                return *error = L"volume " + tokens[1] + L" given twice", false;
        Scenario::Volume volume;
        volume.letter = tokens[1];
        if (!ParseProperties(tokens, 2, VolumeKeys, &volume.properties, error))
            return false;
        scenario->volumes.push_back(volume);
        return true;
    }
    if (statement == L"fail") {
        Failure failure;
        if (!ParseFailure(tokens, &failure, error))
            return false;
        scenario->failures.push_back(failure);
        return true;
    }
    return *error = L"unknown statement '" + statement + L"'", false;
}

} // namespace

bool ParseScenario(const std::wstring& text, Scenario* out, std::wstring* error) {
    Scenario scenario;
    size_t start = (!text.empty() && text[0] == 0xFEFF) ? 1 : 0;
    for (int number = 1; start <= text.size(); ++number) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        start = end + 1;
        std::vector<std::wstring> tokens;
        std::wstring why;
        if (!Tokenize(line, &tokens, &why) || (!tokens.empty() && !ParseLine(tokens, &scenario, &why))) {
            *error = L"line " + std::to_wstring(number) + L": " + why;
            return false;
        }
    }
    *out = scenario;
    return true;
}

HRESULT ToVariant(const Value& value, VARIANT* out) {
    switch (value.kind) {
    case Value::Text:
        out->bstrVal = SysAllocStringLen(value.text.data(), static_cast<UINT>(value.text.size()));
        if (!out->bstrVal)
            return E_OUTOFMEMORY;
        out->vt = VT_BSTR;
        return S_OK;
    case Value::Null:
        out->vt = VT_NULL;
        return S_OK;
    case Value::Int:
        out->vt = VT_I4;
        out->lVal = value.number;
        return S_OK;
    case Value::Array: {
        SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 1);
        BSTR element = SysAllocString(L"array element");
        LONG index = 0;
        HRESULT hr = (array && element) ? SafeArrayPutElement(array, &index, element) : E_OUTOFMEMORY;
        SysFreeString(element);
        if (FAILED(hr)) {
            if (array)
                SafeArrayDestroy(array);
            return hr;
        }
        out->vt = VT_ARRAY | VT_BSTR;
        out->parray = array;
        return S_OK;
    }
    }
    return E_UNEXPECTED;
}

} // namespace fakewmi
