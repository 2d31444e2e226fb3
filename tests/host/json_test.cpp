// Requests read, parameters taken by position, answers and fallbacks printed.
#include "JSONUtility.h"

#include "ErrorCode.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

struct Buffer {
    char *psz = nullptr;
    ~Buffer() { delete[] psz; }
};

struct Tree {
    cJSON *p = nullptr;
    ~Tree() { cJSON_Delete(p); }
};

struct ParsedRequest {
    int status = 0;
    Buffer function, randomId;
    Tree params;
};

std::unique_ptr<ParsedRequest> Parse(const char *text)
{
    auto request = std::make_unique<ParsedRequest>();
    request->status = ParseRequestMsgToJSON(text, &request->function.psz, &request->params.p, &request->randomId.psz);
    return request;
}

std::string Str(const char *psz)
{
    return psz ? psz : "(null)";
}

struct RequestCase {
    const char *name;
    const char *text;
    int status;
    const char *function;
    const char *randomId;
};

class RequestTest : public ::testing::TestWithParam<RequestCase> { };

TEST_P(RequestTest, ReadsNameParametersAndId)
{
    const RequestCase &c = GetParam();
    auto request = Parse(c.text);
    EXPECT_EQ(request->status, c.status);
    EXPECT_EQ(Str(request->function.psz), Str(c.function));
    EXPECT_EQ(Str(request->randomId.psz), Str(c.randomId));
    EXPECT_EQ(request->params.p != nullptr, c.status == 0);
}

const RequestCase kRequests[] = {
    {"Plain", R"({"function":"GetVersion","params":[]})", 0, "GetVersion", nullptr},
    {"KeysInCapitals", R"({"FUNCTION":"GetVersion","PARAMS":[],"RANDOMID":"7"})", 0, "GetVersion", "7"},
    {"FirstOfTwoMatchingKeysCounts", R"({"function":"A","Function":"B","params":[]})", 0, "A", nullptr},
    {"EmptyText", "", ERROR_INVALID_PARAMETER, nullptr, nullptr},
    {"NotJson", "{function", -1, nullptr, nullptr},
    {"NoParams", R"({"function":"GetVersion"})", -1, nullptr, nullptr},
    {"FunctionNotAString", R"({"function":5,"params":[]})", -1, nullptr, nullptr},
    {"RandomIdANumber", R"({"function":"GetVersion","params":[],"randomId":5})", -1, nullptr, nullptr},
};
INSTANTIATE_TEST_SUITE_P(Json, RequestTest, ::testing::ValuesIn(kRequests),
                         [](const ::testing::TestParamInfo<RequestCase> &info) { return info.param.name; });

std::string Nested(int depth)
{
    // The request object itself is the first level.
    return std::string(R"({"function":"F","params":)") + std::string(depth - 1, '[') + std::string(depth - 1, ']') +
        "}";
}

TEST(RequestDepth, DeeperThanTheLimitIsRefusedUnparsed)
{
    EXPECT_EQ(Parse(Nested(JSON_NESTING_LIMIT).c_str())->status, 0);
    EXPECT_EQ(Parse(Nested(JSON_NESTING_LIMIT + 1).c_str())->status, -1);
    EXPECT_EQ(Parse(Nested(100000).c_str())->status, -1);
    // Brackets inside strings do not count.
    std::string quoted = R"({"function":"F","params":[")" + std::string(1000, '[') + R"("]})";
    EXPECT_EQ(Parse(quoted.c_str())->status, 0);
}

TEST(RequestParams, CopyOutlivesTheRequestText)
{
    std::string text = R"({"function":"F","params":["a",{"param":"b"}]})";
    auto request = Parse(text.c_str());
    text.assign(text.size(), 'x');
    Buffer item;
    ASSERT_EQ(ConverJSONArrayItemtoNULLEndString(1, request->params.p, &item.psz), 0);
    EXPECT_STREQ(item.psz, "b");
}

struct ParamCase {
    const char *name;
    const char *params;
    int index;
    int textStatus;
    const char *text;
    int boolStatus;
    bool value;
};

class ParamTest : public ::testing::TestWithParam<ParamCase> { };

TEST_P(ParamTest, ReadsTextAndBooleanByPosition)
{
    const ParamCase &c = GetParam();
    Tree params;
    params.p = cJSON_Parse(c.params);
    ASSERT_NE(params.p, nullptr);

    Buffer text;
    EXPECT_EQ(ConverJSONArrayItemtoNULLEndString(c.index, params.p, &text.psz), c.textStatus);
    EXPECT_EQ(Str(text.psz), Str(c.text));

    bool value = !c.value;
    EXPECT_EQ(ConverJSONArrayItemtobool(params.p, c.index, &value), c.boolStatus);
    if (c.boolStatus == 0) {
        EXPECT_EQ(value, c.value);
    }
}

const int kType = VESK_E_JSON_PARAM_TYPE;
const int kBad = ERROR_INVALID_PARAMETER;
const ParamCase kParams[] = {
    {"PlainString", R"(["a",{"param":"b"}])", 0, 0, "a", kType, false},
    {"ObjectString", R"(["a",{"param":"b"}])", 1, 0, "b", kType, false},
    {"IndexBeyondTheEnd", R"(["a",{"param":"b"}])", 2, kBad, nullptr, kBad, false},
    {"NegativeIndex", R"(["a"])", -1, kBad, nullptr, kBad, false},
    {"EmptyArray", "[]", 0, kBad, nullptr, kBad, false},
    {"ObjectWithNumber", R"([{"param":5}])", 0, kType, nullptr, kType, false},
    {"BareNumber", "[5]", 0, kType, nullptr, kType, false},
    {"ObjectWithoutParam", R"([{"value":"a"}])", 0, kType, nullptr, kType, false},
    {"PlainTrue", R"(["a","b",true])", 2, kType, nullptr, 0, true},
    {"ObjectTrue", R"(["a","b",{"param":true}])", 2, kType, nullptr, 0, true},
    {"PlainFalse", R"(["a","b",false])", 2, kType, nullptr, 0, false},
    {"ObjectMembersByPosition", R"({"x":"a","y":"b"})", 1, 0, "b", kType, false},
    {"ScalarHasNoChildren", R"("a")", 0, kBad, nullptr, kBad, false},
};
INSTANTIATE_TEST_SUITE_P(Json, ParamTest, ::testing::ValuesIn(kParams),
                         [](const ::testing::TestParamInfo<ParamCase> &info) { return info.param.name; });

std::string Answer(const char *function, int code, int kind, const void *value, const char *randomId)
{
    Tree answer;
    int status = ConstructResponseJSON(&answer.p, function, code, kind, value);
    if (status != 0) return "status " + std::to_string(status);
    Buffer text;
    EXPECT_EQ(ConvertJSONToResponseMsg(function, randomId, answer.p, &text.psz), 0);
    return Str(text.psz);
}

TEST(Answer, MembersInOrderWithoutWhitespace)
{
    const char *text = "sig";
    int number = -7;
    double real = 1.5;
    char yes = 1;
    EXPECT_EQ(Answer("SignMsgPKCS1", 0, JSON_VALUE_STRING, text, "r1"),
              R"({"function":"SignMsgPKCS1","errorcode":0,"result":"sig","randomId":"r1"})");
    EXPECT_EQ(Answer("F", 0, JSON_VALUE_INT, &number, nullptr), R"({"function":"F","errorcode":0,"result":-7})");
    EXPECT_EQ(Answer("F", 0, JSON_VALUE_DOUBLE, &real, ""), R"({"function":"F","errorcode":0,"result":1.5})");
    EXPECT_EQ(Answer("F", 0, JSON_VALUE_TRUE, &yes, nullptr), R"({"function":"F","errorcode":0,"result":true})");
    EXPECT_EQ(Answer("F", 0, JSON_VALUE_STRING, nullptr, nullptr), R"({"function":"F","errorcode":0})");
}

TEST(Answer, FailureCarriesSignedCodeAndFalse)
{
    const char *text = "ignored";
    EXPECT_EQ(Answer("F", static_cast<int>(VESK_E_JSON_PARAM_TYPE), JSON_VALUE_STRING, text, "id"),
              R"({"function":"F","errorcode":-1610141180,"result":false,"randomId":"id"})");
}

TEST(Answer, RefusesEmptyNameAndUnknownKind)
{
    int value = 0;
    EXPECT_EQ(Answer("", 0, JSON_VALUE_INT, &value, nullptr), "status 87");
    EXPECT_EQ(Answer("F", 0, 2, &value, nullptr), "status -1");
}

std::string Fallback(const char *function, const char *randomId)
{
    Buffer text;
    EXPECT_EQ(ConvertJSONToResponseMsg(function, randomId, nullptr, &text.psz), 0);
    return Str(text.psz);
}

TEST(Fallback, TextsAsTheBrowserSeesThem)
{
    EXPECT_EQ(Fallback("Nope", "42"),
              R"({"function":"Nope", "errorcode":-2146893779, "result":false, "randomId":"42"})");
    EXPECT_EQ(Fallback("Nope", ""), R"({"function":"Nope", "errorcode":-2146893779, "result":false})");
    EXPECT_EQ(Fallback(nullptr, nullptr), R"({"function":"", "errorcode":-2146893779, "result":false})");
}

TEST(Fallback, RequestTextsAreEscaped)
{
    std::string text = Fallback("a\"b\\c", "x\",\"errorcode\":0,\"y\":\"");
    Tree parsed;
    parsed.p = cJSON_Parse(text.c_str());
    ASSERT_NE(parsed.p, nullptr) << text;
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(parsed.p, "function")->valuestring, "a\"b\\c");
    EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(parsed.p, "errorcode")->valueint, -2146893779);
    EXPECT_STREQ(cJSON_GetObjectItemCaseSensitive(parsed.p, "randomId")->valuestring, "x\",\"errorcode\":0,\"y\":\"");
}

} // namespace
