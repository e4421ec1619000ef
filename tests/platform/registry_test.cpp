// The registry file: value round trips, names, the rules of opening and
// creating keys, atomic replacement, files that do not parse, files written by
// hand, concurrent writers and readers, the reasons a file cannot be used, and
// what killed writers leave.
#include "platform_test_support.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <cstring>
#include <functional>

#include "platform/store_failure.h"

namespace {

typedef std::vector<BYTE> Bytes;

Bytes B(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

// A text with its terminating zero, as REG_SZ stores it.
Bytes Sz(const std::string& text)
{
    Bytes bytes = B(text);
    bytes.push_back(0);
    return bytes;
}

LONG CreateKey(const char* path, HKEY* key, DWORD* disposition = nullptr)
{
    return RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                           nullptr, key, disposition);
}

LONG SetValue(const char* path, const char* name, DWORD type, const Bytes& data)
{
    HKEY key = nullptr;
    LONG status = CreateKey(path, &key);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetValueExA(key, name, 0, type, data.data(), (DWORD)data.size());
    // Closing the key writes the value: the first failure of the two counts.
    LONG closed = RegCloseKey(key);
    return status != ERROR_SUCCESS ? status : closed;
}

LONG QueryValue(const char* path, const char* name, DWORD* type, Bytes* data)
{
    HKEY key = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS)
        return status;
    DWORD size = 0;
    status = RegQueryValueExA(key, name, nullptr, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
        data->assign(size + 1, 0xEE);
        status = RegQueryValueExA(key, name, nullptr, type, data->data(), &size);
        data->resize(size);
    }
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    return status;
}

// Value i of writer w, or the one value it keeps rewriting (i = -1).
std::string WriterValueName(int w, int i)
{
    char name[32];
    if (i < 0)
        snprintf(name, sizeof name, "last%d", w);
    else
        snprintf(name, sizeof name, "w%d_%d", w, i);
    return name;
}

const char* const KeyPath = "Software\\VelkoryHost\\Velkory";

class RegistryTest : public PlatformTest { };

TEST_F(RegistryTest, EveryValueTypeRoundTripsByteForByte)
{
    struct Case {
        const char* name;
        DWORD type;
        Bytes data;
    };
    Bytes binary;
    for (int i = 0; i < 300; i++)
        binary.push_back((BYTE)(i * 7));
    const Case cases[] = {
        {"Plain", REG_SZ, Sz("hello world")},
        {"Quotes\"And\\Backslashes", REG_SZ, Sz("C:\\Path\\\"quoted\"\\")},
        {"NonAscii", REG_SZ,
         Sz("Gr\xF6\xDF"
            "e \x80 \xD6\xD0\xCE\xC4")},
        {"Unterminated", REG_SZ, B("abc")},
        {"EmbeddedZero", REG_SZ, Bytes {'a', 0, 'b', 0}},
        {"Controls", REG_SZ, Sz("line one\nline two\ttab\r")},
        {"EmptyText", REG_SZ, Sz("")},
        {"NoBytesAtAll", REG_SZ, Bytes {}},
        {"Expand", REG_EXPAND_SZ, Sz("%HOME%\\bin")},
        {"Multi", REG_MULTI_SZ, Bytes {'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0}},
        {"Binary", REG_BINARY, binary},
        {"EmptyBinary", REG_BINARY, Bytes {}},
        {"Dword", REG_DWORD, Bytes {0x78, 0x56, 0x34, 0x12}},
        {"ShortDword", REG_DWORD, Bytes {1, 2, 3}},
        {"Qword", REG_QWORD, Bytes {1, 2, 3, 4, 5, 6, 7, 0x80}},
        {"None", REG_NONE, Bytes {0xDE, 0xAD}},
        {"OddType", 0x12345u, Bytes {9}},
        {"", REG_SZ, Sz("the default value")},
    };
    // Every write reads the file back and rewrites it, so each later write
    // also proves that the earlier values survived a parse.
    for (const Case& c : cases)
        ASSERT_EQ(SetValue(KeyPath, c.name, c.type, c.data), ERROR_SUCCESS) << c.name;
    for (const Case& c : cases) {
        DWORD type = 0xFFFF;
        Bytes data;
        ASSERT_EQ(QueryValue(KeyPath, c.name, &type, &data), ERROR_SUCCESS) << c.name;
        EXPECT_EQ(type, c.type) << c.name;
        EXPECT_EQ(data, c.data) << c.name;
    }
    // A null name is the default value too.
    DWORD type = 0;
    Bytes data;
    ASSERT_EQ(QueryValue(KeyPath, nullptr, &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Sz("the default value"));

    std::string text = ReadWholeFile(registryPath);
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\VelkoryHost\\Velkory]\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"Plain\"=\"hello world\"\n"), std::string::npos);
    EXPECT_NE(text.find("\"Quotes\\\"And\\\\Backslashes\"=\"C:\\\\Path\\\\\\\"quoted\\\"\\\\\"\n"),
              std::string::npos);
    EXPECT_NE(text.find("\"Unterminated\"=hex(1):61,62,63\n"), std::string::npos);
    EXPECT_NE(text.find("\"Dword\"=dword:12345678\n"), std::string::npos);
    EXPECT_NE(text.find("\"Qword\"=hex(b):01,02,03,04,05,06,07,80\n"), std::string::npos);
    EXPECT_NE(text.find("\"EmptyBinary\"=hex:\n"), std::string::npos);
    EXPECT_NE(text.find("\"OddType\"=hex(12345):09\n"), std::string::npos);
    EXPECT_NE(text.find("@=\"the default value\"\n"), std::string::npos);
    // Long lists are continued within 80 columns.
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        EXPECT_LE(line.size(), 80u) << line;
}

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirFirstSpelling)
{
    ASSERT_EQ(SetValue("Software\\MixedCase\\Key", "Modality", REG_SZ, Sz("0")), ERROR_SUCCESS);
    ASSERT_EQ(SetValue("SOFTWARE\\mixedcase\\KEY", "MODALITY", REG_SZ, Sz("1")), ERROR_SUCCESS);
    ASSERT_EQ(SetValue("software\\MIXEDCASE\\Other", "x", REG_SZ, Sz("2")), ERROR_SUCCESS);

    DWORD type = 0;
    Bytes data;
    ASSERT_EQ(QueryValue("software\\mixedCASE\\key", "modality", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Sz("1"));

    std::string text = ReadWholeFile(registryPath);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\MixedCase\\Key]\n\"Modality\"=\"1\"\n\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\MixedCase\\Other]\n"), std::string::npos);
    EXPECT_EQ(text.find("MODALITY"), std::string::npos);
    EXPECT_EQ(text.find("SOFTWARE"), std::string::npos);
    EXPECT_EQ(text.find("mixedcase"), std::string::npos);
}

TEST_F(RegistryTest, OpeningNeverCreatesAKey)
{
    HKEY key = (HKEY)1;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(PathExists(registryPath));
    EXPECT_FALSE(PathExists(registryDir));

    ASSERT_EQ(SetValue("Software\\Other", "v", REG_SZ, Sz("1")), ERROR_SUCCESS);
    std::string before = ReadWholeFile(registryPath);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
    // A key that is only a prefix of an existing name is no key.
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Oth", 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ReadWholeFile(registryPath), before);
}

TEST_F(RegistryTest, QueryTooSmallReportsTheSizeAndCopiesNothing)
{
    ASSERT_EQ(SetValue(KeyPath, "Long", REG_SZ, Sz("0123456789")), ERROR_SUCCESS);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);

    BYTE buffer[16];
    memset(buffer, 0xAA, sizeof buffer);
    DWORD size = 10;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Long", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(type, REG_SZ);
    for (BYTE b : buffer)
        EXPECT_EQ(b, 0xAA);

    size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Long", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 11u);

    size = 11;
    EXPECT_EQ(RegQueryValueExA(key, "Long", nullptr, nullptr, buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string((char*)buffer), "0123456789");
    EXPECT_EQ(buffer[11], 0xAA);

    EXPECT_EQ(RegQueryValueExA(key, "Missing", nullptr, nullptr, buffer, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(key, "Long", nullptr, nullptr, buffer, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryTest, CreateMakesTheKeyAndItsParents)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(CreateKey("A\\B\\C", &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(registryPath),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\A]\n\n"
              "[HKEY_CURRENT_USER\\A\\B]\n\n"
              "[HKEY_CURRENT_USER\\A\\B\\C]\n\n");
    struct stat info;
    ASSERT_EQ(stat(registryDir.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    ASSERT_EQ(CreateKey("a\\b\\c", &key, &disposition), ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // Keys open relative to an open key, and the root opens as itself.
    HKEY parent = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "A", 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
    ASSERT_EQ(
        RegCreateKeyExA(parent, "B\\D", 0, nullptr, 0, KEY_WRITE, nullptr, &key, &disposition),
        ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(parent, "b\\d", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
    EXPECT_NE(ReadWholeFile(registryPath).find("[HKEY_CURRENT_USER\\A\\B\\D]\n"),
              std::string::npos);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    for (const char* bad : {"\\A", "A\\\\B", "A\\", "Bad\nName"})
        EXPECT_EQ(CreateKey(bad, &key), ERROR_BAD_PATHNAME) << bad;
    EXPECT_EQ(CreateKey(std::string(256, 'k').c_str(), &key), ERROR_BAD_PATHNAME);
}

TEST_F(RegistryTest, HandlesAreCheckedNotFollowed)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_QUERY_VALUE, &key),
              ERROR_INVALID_HANDLE);
    EXPECT_EQ(
        RegCreateKeyExA(HKEY_CLASSES_ROOT, "x", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
        ERROR_INVALID_HANDLE);
    BYTE byte = 1;
    EXPECT_EQ(RegSetValueExA((HKEY)(uintptr_t)0x1234, "v", 0, REG_BINARY, &byte, 1),
              ERROR_INVALID_HANDLE);
    EXPECT_FALSE(PathExists(registryPath));

    // A key opened for reading cannot be written, and a closed key is gone.
    ASSERT_EQ(SetValue(KeyPath, "v", REG_SZ, Sz("1")), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_SZ, (const BYTE*)"2", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegSetValueExA(HKEY_CURRENT_USER, "root value", 0, REG_BINARY, nullptr, 1),
              ERROR_INVALID_PARAMETER);
    // A name that a value line could not hold is refused.
    EXPECT_EQ(RegSetValueExA(HKEY_CURRENT_USER, "two\nlines", 0, REG_BINARY, &byte, 1),
              ERROR_INVALID_PARAMETER);

    // A key that vanishes from the file while it is open is reported as such,
    // and writing through it does not bring it back.
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    WriteRegistry("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n");
    EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueExA(key, "v", 0, REG_BINARY, &byte, 1), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(registryPath).find("Velkory"), std::string::npos);
}

TEST_F(RegistryTest, AWriteThatFailsBeforeTheRenameLeavesTheOldFile)
{
    ASSERT_EQ(SetValue(KeyPath, "Modality", REG_SZ, Sz("1")), ERROR_SUCCESS);
    const std::string before = ReadWholeFile(registryPath);

    SetRegistryFailBeforeRename(true);
    EXPECT_EQ(SetValue(KeyPath, "Visuality", REG_SZ, Sz("1")), ERROR_WRITE_FAULT);
    EXPECT_EQ(SetValue(KeyPath, "Modality", REG_SZ, Sz("0")), ERROR_WRITE_FAULT);
    HKEY key = nullptr;
    EXPECT_EQ(CreateKey("Software\\New", &key), ERROR_WRITE_FAULT);
    EXPECT_EQ(key, nullptr);
    SetRegistryFailBeforeRename(false);

    EXPECT_EQ(ReadWholeFile(registryPath), before);
    std::vector<std::string> names = DirectoryNames(registryDir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> {"registry.reg", "registry.reg.lock"}));

    DWORD type = 0;
    Bytes data;
    EXPECT_EQ(QueryValue(KeyPath, "Modality", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Sz("1"));
    EXPECT_EQ(QueryValue(KeyPath, "Visuality", &type, &data), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetValue(KeyPath, "Visuality", REG_SZ, Sz("1")), ERROR_SUCCESS);
    EXPECT_EQ(QueryValue(KeyPath, "Visuality", &type, &data), ERROR_SUCCESS);
}

TEST_F(RegistryTest, AFileThatDoesNotParseIsNeverOverwritten)
{
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::string section = "[HKEY_CURRENT_USER\\Software\\VelkoryHost\\Velkory]\n";
    const std::string broken[] = {
        "this is not a registry\n",
        section + "\"Modality\"=\"1\"\n",                                  // no header
        header + "\"Modality\"=\"1\"\n" + section,                         // value before a section
        header + section + "\"Modality\"=\"1\n",                           // unterminated text
        header + section + "\"Modality\"=\"a\\tb\"\n",                     // unknown escape
        header + section + "\"Modality\"=hex:0g\n",                        // bad byte
        header + section + "\"Modality\"=hex:01,02,\\\n\"Next\"=\"x\"\n",  // broken continuation
        header + section + "\"Modality\"=dword:123456789\n",               // nine digits
        header + section + "\"Modality\"=-\n",                             // an import's deletion
        header + section + "\"Modality\"=\"1\" trailing\n",
        header + "[HKEY_LOCAL_MACHINE\\Software]\n",
        header + "[-HKEY_CURRENT_USER\\Software]\n",
        header + "[HKEY_CURRENT_USER\\Software\\\\Double]\n",
        header + "[HKEY_CURRENT_USER\\Software\n",
        std::string("\xFF\xFE", 2) + "W\0i\0n\0",
    };
    for (const std::string& text : broken) {
        SCOPED_TRACE(text);
        WriteRegistry(text);
        HKEY key = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "", 0, KEY_QUERY_VALUE, &key),
                  ERROR_FILE_NOT_FOUND);
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, "Modality", nullptr, nullptr, nullptr, &size),
                  ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(CreateKey(KeyPath, &key), ERROR_BADDB);
        EXPECT_EQ(CreateKey("Software\\Elsewhere", &key), ERROR_BADDB);
        EXPECT_EQ(RegSetValueExA(HKEY_CURRENT_USER, "v", 0, REG_SZ, (const BYTE*)"1", 2),
                  ERROR_BADDB);
        EXPECT_EQ(ReadWholeFile(registryPath), text);
    }
}

TEST_F(RegistryTest, AFileWrittenByHandIsRead)
{
    WriteRegistry("\xEF\xBB\xBF"
                  "Windows Registry Editor Version 5.00\r\n"
                  "\r\n"
                  "; settings kept by hand\r\n"
                  "[hkey_current_user\\Software\\Hand\\Deep\\Key]\r\n"
                  "\"Text\"=\"say \\\"hi\\\" C:\\\\dir\"\r\n"
                  "  \"Number\" = DWORD:1f\r\n"
                  "\"List\"=hex(7):6f,6e,65,00,\\\r\n"
                  "  74,77,6f,00,00\r\n"
                  "\"Raw\"=HEX:ff, 0, 10\r\n"
                  "@=\"default\"\r\n"
                  "\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Hand\\Deep\\Key]\r\n"
                  "\"Text\"=\"second wins\"\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Brackets]Key]   \r\n"
                  "\"v\"=hex(0):\r\n");

    DWORD type = 0;
    Bytes data;
    const char* key = "Software\\Hand\\Deep\\Key";
    ASSERT_EQ(QueryValue(key, "text", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Sz("second wins"));
    ASSERT_EQ(QueryValue(key, "Number", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, (Bytes {0x1F, 0, 0, 0}));
    ASSERT_EQ(QueryValue(key, "List", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(data, (Bytes {'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0}));
    ASSERT_EQ(QueryValue(key, "Raw", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(data, (Bytes {0xFF, 0x00, 0x10}));
    ASSERT_EQ(QueryValue(key, "", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Sz("default"));
    ASSERT_EQ(QueryValue("Software\\Brackets]Key", "v", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_NONE);
    EXPECT_TRUE(data.empty());
    // Keys above a section exist without sections of their own.
    ASSERT_EQ(QueryValue("Software\\Hand", "none", &type, &data), ERROR_FILE_NOT_FOUND);
    HKEY open = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\HAND\\DEEP", 0, KEY_QUERY_VALUE, &open),
              ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(open), ERROR_SUCCESS);

    // The next write keeps every value and gives the parents their sections.
    ASSERT_EQ(SetValue(key, "Added", REG_SZ, Sz("1")), ERROR_SUCCESS);
    ASSERT_EQ(QueryValue(key, "List", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, (Bytes {'o', 'n', 'e', 0, 't', 'w', 'o', 0, 0}));
    ASSERT_EQ(QueryValue(key, "Text", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Sz("second wins"));
    std::string text = ReadWholeFile(registryPath);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Hand]\n"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Hand\\Deep]\n"), std::string::npos);
}

TEST_F(RegistryTest, AnEmptyFileIsAnEmptyRegistry)
{
    WriteRegistry("\n  \n");
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetValue(KeyPath, "Modality", REG_SZ, Sz("1")), ERROR_SUCCESS);
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing)
{
    const int writers = 2;
    const int valuesEach = 40;
    ASSERT_EQ(SetValue(KeyPath, "Start", REG_SZ, Sz("0")), ERROR_SUCCESS);
    std::vector<pid_t> children;
    for (int w = 0; w < writers; w++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < valuesEach; i++) {
                std::string name = WriterValueName(w, i);
                failures += SetValue(KeyPath, name.c_str(), REG_SZ, Sz(name)) != ERROR_SUCCESS;
                // Each writer also keeps rewriting one value of its own.
                std::string own = WriterValueName(w, -1);
                failures += SetValue(KeyPath, own.c_str(), REG_DWORD, Bytes {(BYTE)i, 0, 0, 0}) !=
                    ERROR_SUCCESS;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    // Meanwhile a reader must find a whole file every time it looks.
    int unreadable = 0;
    int looks = 0;
    std::vector<int> statuses(children.size(), -1);
    for (size_t finished = 0; finished < children.size(); looks++) {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            unreadable++;
        else
            RegCloseKey(key);
        for (size_t i = 0; i < children.size(); i++) {
            int status = 0;
            if (statuses[i] == -1 && waitpid(children[i], &status, WNOHANG) == children[i]) {
                statuses[i] = status;
                finished++;
            }
        }
    }
    for (int status : statuses)
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(unreadable, 0) << "of " << looks << " looks";

    for (int w = 0; w < writers; w++) {
        for (int i = 0; i < valuesEach; i++) {
            std::string name = WriterValueName(w, i);
            DWORD type = 0;
            Bytes data;
            ASSERT_EQ(QueryValue(KeyPath, name.c_str(), &type, &data), ERROR_SUCCESS) << name;
            EXPECT_EQ(data, Sz(name));
        }
        std::string own = WriterValueName(w, -1);
        DWORD type = 0;
        Bytes data;
        ASSERT_EQ(QueryValue(KeyPath, own.c_str(), &type, &data), ERROR_SUCCESS);
        EXPECT_EQ(data, (Bytes {(BYTE)(valuesEach - 1), 0, 0, 0}));
    }
}

TEST_F(RegistryTest, TheFileIsFoundThroughTheConfigurationDirectory)
{
    unsetenv("VELKORY_REGISTRY");
    const char* oldXdg = getenv("XDG_CONFIG_HOME");
    const char* oldHome = getenv("HOME");
    std::string savedXdg = oldXdg ? oldXdg : "";
    std::string savedHome = oldHome ? oldHome : "";

    setenv("XDG_CONFIG_HOME", (dir + "/xdg").c_str(), 1);
    EXPECT_EQ(SetValue(KeyPath, "Modality", REG_SZ, Sz("1")), ERROR_SUCCESS);
    EXPECT_TRUE(PathExists(dir + "/xdg/velkory/registry.reg"));

    // A relative XDG_CONFIG_HOME does not count; HOME/.config does.
    setenv("XDG_CONFIG_HOME", "relative", 1);
    setenv("HOME", (dir + "/home").c_str(), 1);
    EXPECT_EQ(SetValue(KeyPath, "Modality", REG_SZ, Sz("1")), ERROR_SUCCESS);
    EXPECT_TRUE(PathExists(dir + "/home/.config/velkory/registry.reg"));

    if (oldXdg)
        setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
}

// Runs body in a child process, as an unprivileged user when the tests run as
// root (whose reads and writes no mode bit refuses), and gives back its text.
std::string InChild(const std::function<std::string()>& body)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return "no pipe";
    pid_t pid = fork();
    if (pid == 0) {
        close(pipeFds[0]);
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(1);
        std::string text = body();
        _exit(write(pipeFds[1], text.data(), text.size()) == (ssize_t)text.size() ? 0 : 1);
    }
    close(pipeFds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, (size_t)got);
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return text;
}

// Saves both settings through one key as the module does, then opens the key
// to read: "status | why the write failed | why the read failed".
std::string SaveAndRead()
{
    HKEY key = nullptr;
    LONG status = CreateKey(KeyPath, &key);
    if (status == ERROR_SUCCESS) {
        for (const char* name : {"Modality", "Visuality"})
            if (status == ERROR_SUCCESS)
                status = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)"1", 2);
        LONG closed = RegCloseKey(key);
        status = status != ERROR_SUCCESS ? status : closed;
    }
    std::string written = VelkoryStoreFailure(StoreWriting);
    if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    return std::to_string(status) + "|" + written + "|" + VelkoryStoreFailure(StoreReading);
}

TEST_F(RegistryTest, AFileThatCannotBeUsedIsReportedWithItsReason)
{
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::string kept = header + "[HKEY_CURRENT_USER\\Software\\Other]\n\"x\"=\"1\"\n";
    const std::string path = registryPath;
    struct Case {
        const char* what;
        std::function<void()> setUp;
        mode_t directoryMode;
        LONG status;
        std::string written, read;  // the reasons noted, after the path and ": "
    };
    const Case cases[] = {
        {"corrupt", [&] { WriteRegistry(header + "[HKEY_CURRENT_USER\\x]\nbad line\n"); }, 0777,
         ERROR_BADDB, "line 4 does not parse", "line 4 does not parse"},
        {"read-only file", [&] { WriteRegistry(kept), chmod(path.c_str(), 0444); }, 0777,
         ERROR_ACCESS_DENIED, "the file is read-only", ""},
        {"unreadable file", [&] { WriteRegistry(kept), chmod(path.c_str(), 0); }, 0777,
         ERROR_ACCESS_DENIED, "Permission denied", "Permission denied"},
        {"read-only directory",
         [&] {
             WriteRegistry(kept);
             WriteWholeFile(path + ".lock", "");
             chmod(path.c_str(), 0666), chmod((path + ".lock").c_str(), 0666);
         },
         0555, ERROR_ACCESS_DENIED, "cannot create a file beside it: Permission denied", ""},
        {"fifo", [&] { mkdir(registryDir.c_str(), 0700), mkfifo(path.c_str(), 0666); }, 0777,
         ERROR_ACCESS_DENIED, "not a regular file", "not a regular file"},
        {"directory", [&] { mkdir(registryDir.c_str(), 0700), mkdir(path.c_str(), 0777); }, 0777,
         ERROR_ACCESS_DENIED, "Is a directory", "Is a directory"},
        {"fine", [&] { WriteRegistry(kept), chmod(path.c_str(), 0666); }, 0777, ERROR_SUCCESS, "",
         ""},
    };
    chmod(dir.c_str(), 0755);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(registryDir);
        c.setUp();
        chmod(registryDir.c_str(), c.directoryMode);
        struct stat info;
        bool regular = stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
        std::string before = regular ? ReadWholeFile(path) : "";
        auto reason = [&](const std::string& why) { return why.empty() ? why : path + ": " + why; };
        EXPECT_EQ(InChild(SaveAndRead),
                  std::to_string(c.status) + "|" + reason(c.written) + "|" + reason(c.read));
        chmod(registryDir.c_str(), 0700);
        chmod(path.c_str(), 0600);
        if (regular && c.status != ERROR_SUCCESS) {
            EXPECT_EQ(ReadWholeFile(path), before);
        }
    }
}

TEST_F(RegistryTest, AReadOnlyFileRefusesASaveWhoeverSaves)
{
    // As root, whose writes no mode bit refuses, the mode itself refuses.
    const std::string kept = "Windows Registry Editor Version 5.00\n\n"
                             "[HKEY_CURRENT_USER\\Software\\Other]\n\"x\"=\"1\"\n";
    WriteRegistry(kept);
    chmod(registryPath.c_str(), 0444);
    EXPECT_EQ(SaveAndRead(),
              std::to_string(ERROR_ACCESS_DENIED) + "|" + registryPath +
                  ": the file is read-only|");
    EXPECT_EQ(ReadWholeFile(registryPath), kept);
    struct stat info;
    ASSERT_EQ(stat(registryPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
    chmod(registryPath.c_str(), 0600);
}

TEST_F(RegistryTest, AGoodSaveAfterAFailedOneLeavesNoFailureText)
{
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::string why = registryPath + ": line 4 does not parse";
    WriteRegistry(header + "[HKEY_CURRENT_USER\\x]\nbad line\n");
    EXPECT_EQ(SaveAndRead(), std::to_string(ERROR_BADDB) + "|" + why + "|" + why);
    WriteRegistry(header);
    EXPECT_EQ(SaveAndRead(), "0||");
}

// UTF-16LE text as regedit writes it (characters of the Basic Multilingual
// Plane only).
std::string Utf16(const std::u16string& text)
{
    std::string bytes;
    for (char16_t unit : text)
        bytes += std::string {(char)(unit & 0xFF), (char)(unit >> 8)};
    return bytes;
}

TEST_F(RegistryTest, ARewriteKeepsTheFilesEncodingAndMode)
{
    const std::u16string text = u"Windows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_CURRENT_USER\\Software\\Gr\u00FC\u00DFe]\r\n"
                                u"\"Stra\u00DFe\"=\"\u20AC 5 \u00E0 la carte\"\r\n"
                                u"\"Path\"=hex(2):25,00,48,00,00,00\r\n";
    WriteRegistry("\xFF\xFE" + Utf16(text));
    chmod(registryPath.c_str(), 0640);
    DWORD type = 0;
    Bytes data;
    const char* const key = "Software\\Gr\u00FC\u00DFe";  // read as UTF-8
    ASSERT_EQ(QueryValue(key, "Stra\u00DFe", &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Sz("\xE2\x82\xAC 5 \xC3\xA0 la carte"));

    ASSERT_EQ(SetValue(KeyPath, "Modality", REG_SZ, Sz("1")), ERROR_SUCCESS);
    std::string file = ReadWholeFile(registryPath);
    EXPECT_EQ(file.rfind("\xFF\xFE" + Utf16(u"Windows Registry Editor Version 5.00\r\n"), 0), 0u);
    const char16_t* const lines[] = {u"[HKEY_CURRENT_USER\\Software\\Gr\u00FC\u00DFe]\r\n"
                                     u"\"Stra\u00DFe\"=\"\u20AC 5 \u00E0 la carte\"\r\n"
                                     u"\"Path\"=hex(2):25,00,48,00,00,00\r\n",
                                     u"\"Modality\"=\"1\"\r\n"};
    for (const char16_t* line : lines)
        EXPECT_NE(file.find(Utf16(line)), std::string::npos);
    struct stat info;
    ASSERT_EQ(stat(registryPath.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // A byte-order mark on UTF-8 stays too.
    WriteRegistry("\xEF\xBB\xBFWindows Registry Editor Version 5.00\n");
    ASSERT_EQ(SetValue(KeyPath, "Modality", REG_SZ, Sz("1")), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(registryPath).rfind("\xEF\xBB\xBFWindows", 0), 0u);
}

TEST_F(RegistryTest, ValuesSetThroughOneKeyLandTogether)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "A", 0, REG_SZ, (const BYTE*)"0", 2), ERROR_SUCCESS);
    EXPECT_EQ(ReadWholeFile(registryPath).find("\"A\""), std::string::npos) << "not yet";
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "A", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "B", 0, REG_SZ, (const BYTE*)"0", 2), ERROR_SUCCESS);
    ASSERT_EQ(RegFlushKey(key), ERROR_SUCCESS);
    EXPECT_NE(ReadWholeFile(registryPath).find("\"A\"=\"0\"\n\"B\"=\"0\""), std::string::npos);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    // Two writers keep writing pairs of equal values; a reader reading both
    // through one key must never see two values that were not written together.
    const int rounds = 60;
    std::vector<pid_t> children;
    for (int w = 1; w <= 2; w++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (int i = 0; i < rounds; i++) {
                std::string value = std::to_string(w * 1000 + i);
                HKEY writer = nullptr;
                failures += CreateKey(KeyPath, &writer) != ERROR_SUCCESS;
                for (const char* name : {"A", "B"})
                    failures += RegSetValueExA(writer, name, 0, REG_SZ, (const BYTE*)value.c_str(),
                                               (DWORD)value.size() + 1) != ERROR_SUCCESS;
                failures += RegCloseKey(writer) != ERROR_SUCCESS;
            }
            _exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    int mixed = 0;
    std::vector<int> statuses(children.size(), -1);
    for (size_t finished = 0, looks = 0; finished < children.size() && looks < 100000; looks++) {
        char a[16] = "", b[16] = "";
        DWORD aSize = sizeof a - 1, bSize = sizeof b - 1;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath, 0, KEY_QUERY_VALUE, &key),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegQueryValueExA(key, "A", nullptr, nullptr, (BYTE*)a, &aSize), ERROR_SUCCESS);
        ASSERT_EQ(RegQueryValueExA(key, "B", nullptr, nullptr, (BYTE*)b, &bSize), ERROR_SUCCESS);
        RegCloseKey(key);
        mixed += strcmp(a, b) != 0;
        for (size_t i = 0; i < children.size(); i++)
            if (statuses[i] == -1 && waitpid(children[i], &statuses[i], WNOHANG) == children[i])
                finished++;
    }
    for (size_t i = 0; i < children.size(); i++) {
        if (statuses[i] == -1)
            waitpid(children[i], &statuses[i], 0);
        EXPECT_TRUE(WIFEXITED(statuses[i]) && WEXITSTATUS(statuses[i]) == 0);
    }
    EXPECT_EQ(mixed, 0);
}

TEST_F(RegistryTest, TheNextWriterRemovesTemporaryFilesThatKilledWritersLeft)
{
    ASSERT_EQ(SetValue(KeyPath, "Modality", REG_SZ, Sz("0")), ERROR_SUCCESS);
    const char* const stale[] = {"registry.reg.Ab12Cd.tmp", "registry.reg.zzzzzz.tmp"};
    const char* const others[] = {"registry.reg.backup", "registry.reg.Ab12Cd",
                                  "other.reg.Ab12Cd.tmp", "registry.reg.Ab12C.tmp",
                                  "registry.reg.Ab-2Cd.tmp"};
    for (const char* name : stale)
        WriteWholeFile(registryDir + "/" + name, "Windows Registry Editor Version 5.00\n");
    for (const char* name : others)
        WriteWholeFile(registryDir + "/" + name, "kept");
    mkdir((registryDir + "/registry.reg.Dir123.tmp").c_str(), 0700);

    ASSERT_EQ(SetValue(KeyPath, "Modality", REG_SZ, Sz("1")), ERROR_SUCCESS);
    for (const char* name : stale)
        EXPECT_FALSE(PathExists(registryDir + "/" + name)) << name;
    for (const char* name : others)
        EXPECT_EQ(ReadWholeFile(registryDir + "/" + name), "kept") << name;
    EXPECT_TRUE(PathExists(registryDir + "/registry.reg.Dir123.tmp"));
}

}  // namespace
