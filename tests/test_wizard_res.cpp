// test_wizard_res.cpp - the process entry's resource handle table and the resources the program carries.

#include "charstr.h"
#include "resource.h"
#include "wizard.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>

static const int kLongTextId = 1999; // a 600-character text carried by the test program only

// The installer's texts as the resource script holds them, in UTF-8.
struct TextCase {
    int nId;
    const char *pszUtf8;
};
static const TextCase kTexts[] = {
    {1000, "Установка"},
    {1001, "< &Назад"},
    {1002, "&Вперёд >"},
    {1003, "Закончить"},
    {1004, "Отмена"},
    {1005, "Закрыть"},
    {1010,
     "Если хотите продолжать установку, сначала закройте все приложения, а потом нажмите кнопку '$next'."},
    {1011,
     "\nУстановка приложения\n\n\nФайлы приложения уже установлены. Повторную установку можно "
     "порекомендовать только с целью реконструкции в случае их повреждения и когда приложение действует "
     "неправильно.\n\nОсторожно: файлы приложения, которые в рамках его использ. модифицируются "
     "(конфигурация, каталоги и т.п.) будут также перезаписаны. Поэтому, вы можете потерять ценные данные."},
    {1012, "Провести установку приложения"},
    {1017, "\nПроисходит установка . . ."},
    {1018, "\nПереход на новую версию приложения\n\n\nНа вашем компьютере была обнаружена более старая "
           "версия приложения, установка которого как раз проводится. Избранные файлы (некоторые "
           "конфигурации, каталоги и т.п.) из более старой версии перейдут в новую версию."},
    {1019, "Устранить более старую версию приложения"},
    {1020, "Проверка пакета: %1 %%"},
    {1021, "Проверка пакета: прочитано %1 МБ"},
    {1022, "Файл %1 из %2, выполнено %3 %%"},
    {1023, "Файл %1 из %2"},
    {1030, "Установку нельзя провести: путь к программе установки или к одной из папок пользователя содержит "
           "буквы, которых нет в кодовой странице этой системы Windows. Ничего не изменено.\n\nСкопируйте "
           "содержимое диска в папку, название которой написано латинскими буквами (например, "
           "C:\\Kalmorist), и запустите программу установки оттуда."},
    {1050, "\nУстановка успешно завершена\n\n"},
    {1051, "\nУстановка отменена\n\n"},
    {1052, "\nУстановка не завершена\n\n"},
    {1061, "\nСимвол приложения на рабочем столе и/или в предложении Старт не мог быть образован. Путь к "
           "приложению есть \"%s\".\n"},
    {1062, "\nНекоторые составные части более старой версии приложения не могли быть устранены, позже вы "
           "можете их устранить мануально.\n"},
    {1071, "\nНельзя получить необходимые названия составляющих и файлов.\n"},
    {1072, "\nНельзя подготовить демонтировочную запись в регистрационной базе данных.\n"},
    {1073, "\nНельзя образовать составляющую \"%s\".\n"},
    {1074, "\nНельзя скопировать файл \"%s\".\n"},
    {1075, "\nНельзя открыть файл \"%s\".\n"},
    {1076, "\nНельзя образовать файл \"%s\".\n"},
    {1077, "\nНельзя записывать в файл \"%s\".\n"},
    {1078, "\nНельзя читать из файла \"%s\".\n"},
    {1079, "\nНедостаточный объём памяти.\n"},
    {1083, "\nНе удалось принять все необходимые файлы из более старой версии приложения.\n"},
    {1084, "\nСоставляющая \"%s\" более старой версии приложения не устранена: в ней остались ваши каталоги "
           "и/или файлы .sc1, которые не перешли в новую версию. Перенесите их, а потом вы можете устранить "
           "составляющую мануально.\n"},
};

static std::string ToCp1251(const char *pszUtf8)
{
    WCHAR wsz[2048];
    char sz[2048];
    int n = MultiByteToWideChar(CP_UTF8, 0, pszUtf8, -1, wsz, 2048);
    if (n <= 0)
        return "<bad UTF-8>";
    n = WideCharToMultiByte(1251, 0, wsz, -1, sz, sizeof sz, NULL, NULL);
    if (n <= 0)
        return "<not in code page 1251>";
    return sz;
}

static char *HeapString(const char *s)
{
    char *p = (char *)malloc(strlen(s) + 1);
    strcpy(p, s);
    return p;
}

class ResourceTable : public ::testing::Test {
  protected:
    void SetUp() override
    {
        hWizInstance = GetModuleHandleA(NULL);
        ResInit();
    }
    void TearDown() override { ResFreeAll(); }
};

TEST(Resources, EveryTextLoadsAsCp1251BytesOfTheScript)
{
    for (const TextCase &c : kTexts) {
        char szBuffer[512];
        int n = LoadStringA(GetModuleHandleA(NULL), (UINT)c.nId, szBuffer, sizeof szBuffer);
        std::string sExpected = ToCp1251(c.pszUtf8);
        EXPECT_EQ((int)sExpected.size(), n) << "text " << c.nId;
        EXPECT_EQ(sExpected, std::string(szBuffer)) << "text " << c.nId;
    }
}

TEST(Resources, TextsBetweenTheTableEntriesAreMissing)
{
    char szBuffer[512] = "x";
    for (int nId = 1000; nId <= 1084; nId++) {
        bool bListed = false;
        for (const TextCase &c : kTexts)
            bListed = bListed || c.nId == nId;
        if (!bListed) {
            EXPECT_EQ(0, LoadStringA(GetModuleHandleA(NULL), (UINT)nId, szBuffer, sizeof szBuffer)) << nId;
        }
    }
}

TEST(Resources, LoadStringCutsToTheCapacity)
{
    char szBuffer[8];
    memset(szBuffer, 'x', sizeof szBuffer);
    EXPECT_EQ(7, LoadStringA(GetModuleHandleA(NULL), kLongTextId, szBuffer, sizeof szBuffer));
    EXPECT_STREQ("ABCDEFG", szBuffer);
}

TEST(Resources, WelcomeBitmapIs332By175With16Colours)
{
    HBITMAP hBitmap = LoadBitmapA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDB_WELCOME));
    ASSERT_TRUE(hBitmap != NULL);
    BITMAP bm;
    ASSERT_EQ((int)sizeof bm, GetObjectA(hBitmap, sizeof bm, &bm));
    EXPECT_EQ(332, bm.bmWidth);
    EXPECT_EQ(175, bm.bmHeight);
    EXPECT_TRUE(DeleteObject(hBitmap));
    EXPECT_EQ(NULL, LoadBitmapA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(1101)));
}

TEST_F(ResourceTable, EmptyTableGivesNothing)
{
    EXPECT_EQ(NULL, ResGetString(1));
    EXPECT_EQ(NULL, ResGetObject(RES_SLOTS));
}

TEST_F(ResourceTable, AddsTakeTheLowestFreeSlot)
{
    EXPECT_EQ(1, ResDupString("a"));
    EXPECT_EQ(2, ResDupString("b"));
    EXPECT_EQ(3, ResDupString("c"));
    ResFree(2);
    EXPECT_EQ(NULL, ResGetString(2));
    EXPECT_EQ(2, ResDupString("d"));
    EXPECT_STREQ("d", ResGetString(2));
    EXPECT_STREQ("c", ResGetString(3));
}

TEST_F(ResourceTable, FullTableRefusesAndLeavesOwnershipWithTheCaller)
{
    for (int i = 1; i <= RES_SLOTS; i++)
        ASSERT_EQ(i, ResDupString("t"));
    char *pszMine = HeapString("mine");
    EXPECT_EQ(0, ResAddString(pszMine));
    EXPECT_STREQ("mine", pszMine); // still ours: the table did not free it
    free(pszMine);
    EXPECT_EQ(0, ResDupString("more"));
    EXPECT_EQ(0, ResLoadString(IDS_TITLE));
    EXPECT_EQ(0, ResLoadBitmap(IDB_WELCOME));
    ResFree(700);
    EXPECT_EQ(700, ResLoadString(IDS_TITLE));
    // The first and the last slot are freed and taken again like any other.
    for (int h : {1, RES_SLOTS}) {
        ResFree(h);
        EXPECT_EQ(NULL, ResGetString(h)) << h;
        EXPECT_EQ(h, ResDupString("again")) << h;
        EXPECT_STREQ("again", ResGetString(h)) << h;
    }
}

TEST_F(ResourceTable, FreeAllEmptiesAFullTableToItsLastSlot)
{
    for (int round = 0; round < 2; round++) {
        for (int i = 1; i <= RES_SLOTS; i++)
            ASSERT_EQ(i, ResDupString("t")) << "round " << round;
        ResFreeAll();
        for (int h = 1; h <= RES_SLOTS; h++)
            ASSERT_EQ(NULL, ResGetString(h)) << "round " << round << " handle " << h;
    }
}

TEST_F(ResourceTable, HandlesOutsideTheTableOrOfTheWrongKindGiveNothing)
{
    int hText = ResDupString("text");
    int hBitmap = ResLoadBitmap(IDB_WELCOME);
    ASSERT_NE(0, hBitmap);
    EXPECT_EQ(NULL, ResGetString(hBitmap));
    EXPECT_EQ(NULL, ResGetObject(hText));
    const int aBad[] = {0, -1, RES_SLOTS + 1, -2147483647 - 1};
    for (int h : aBad) {
        EXPECT_EQ(NULL, ResGetString(h)) << h;
        EXPECT_EQ(NULL, ResGetObject(h)) << h;
        ResFree(h); // nothing happens
    }
    EXPECT_STREQ("text", ResGetString(hText));
}

TEST_F(ResourceTable, NullIsRefusedWithoutTakingASlot)
{
    EXPECT_EQ(0, ResAddString(NULL));
    EXPECT_EQ(0, ResAddObject(NULL));
    EXPECT_EQ(0, ResDupString(NULL));
    EXPECT_EQ(1, ResDupString("first"));
}

TEST_F(ResourceTable, FreeingTwiceReleasesOnce)
{
    int h = ResDupString("x");
    ResFree(h);
    ResFree(h);
    EXPECT_EQ(h, ResDupString("y"));
    EXPECT_STREQ("y", ResGetString(h));
}

TEST_F(ResourceTable, DuplicateIsAnIndependentCopy)
{
    char szSource[] = "original";
    int h = ResDupString(szSource);
    szSource[0] = 'X';
    EXPECT_STREQ("original", ResGetString(h));
}

TEST_F(ResourceTable, LoadedTextsAreCutTo511Characters)
{
    int h = ResLoadString(kLongTextId);
    ASSERT_NE(0, h);
    EXPECT_EQ(511, StrLength(ResGetString(h)));
    EXPECT_EQ(0, ResLoadString(1006));
    EXPECT_EQ(0, ResLoadBitmap(1101));
}

// The loaded texts are the code page 1251 bytes of the script whatever the system's code page (this test runs
// again as on a Western system, where LoadStringA gives question marks); their wide copies read the same.
TEST_F(ResourceTable, LoadedTextsAreCp1251WhateverTheSystemCodePage)
{
    for (const TextCase &c : kTexts) {
        int h = ResLoadString(c.nId);
        ASSERT_NE(0, h) << "text " << c.nId;
        EXPECT_EQ(ToCp1251(c.pszUtf8), std::string(ResGetString(h)))
            << "text " << c.nId << ", code page " << GetACP();
        WCHAR wszWant[2048];
        ASSERT_GT(MultiByteToWideChar(CP_UTF8, 0, c.pszUtf8, -1, wszWant, 2048), 0);
        WCHAR *pwsz = ResWideText(ResGetString(h));
        ASSERT_NE(nullptr, pwsz);
        EXPECT_TRUE(std::u16string((const char16_t *)wszWant) == std::u16string((const char16_t *)pwsz))
            << "text " << c.nId;
        free(pwsz);
        ResFree(h);
    }
    int h = ResLoadString(kLongTextId);
    ASSERT_NE(0, h);
    EXPECT_EQ(511, StrLength(ResGetString(h)));
}

TEST_F(ResourceTable, FreeAllReleasesEveryTextAndBitmap)
{
    int hText = ResLoadString(IDS_TITLE);
    int hBitmap = ResLoadBitmap(IDB_WELCOME);
    ResFree(hText);
    hText = ResDupString("later");
    HGDIOBJ hObject = ResGetObject(hBitmap);
    BITMAP bm;
    ASSERT_NE(0, GetObjectA(hObject, sizeof bm, &bm));
    ResFreeAll();
    EXPECT_EQ(0, GetObjectA(hObject, sizeof bm, &bm)); // the bitmap was deleted
    for (int h = 1; h <= RES_SLOTS; h++)
        ASSERT_EQ(NULL, ResGetString(h));
    EXPECT_EQ(1, ResDupString("again"));
}
