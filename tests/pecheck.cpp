// pecheck.cpp - reads a Windows program (PE32 or PE32+) on the build machine: its format, machine and
// subsystem, the DLLs it imports and its resources, for the checks of the shipped programs that need no
// Windows (tests/pe-static.sh).
//   pecheck info FILE                  the facts, one a line (below)
//   pecheck dump FILE TYPE NAME [LANG] a resource's bytes on standard output
//   pecheck version FILE               the version resource, one fact a line (below)
//   pecheck icons FILE                 the images of each icon group, one a line (below)
//   pecheck retype FILE TYPE NEWTYPE   renumbers the resource type TYPE to NEWTYPE in the file itself: then
//                                      nothing finds its resources (the self-tests' spoiling)
// info prints:
//   format PE32|PE32+
//   machine i386|x86_64|0xNNNN
//   subsystem gui|console|N
//   import NAME          each DLL of the import and delay-import tables, in lower case, sorted
//   resource TYPE NAME LANG SIZE OFFSET   each resource, with its size and file offset (numbers in decimal,
//                        named types and names as their text)
// version prints, from the first version resource (type 16):
//   fileversion A.B.C.D and productversion A.B.C.D   from the fixed part (VS_FIXEDFILEINFO)
//   string BLOCK NAME VALUE                           each string of StringFileInfo, in UTF-8
//   translation LANG CODEPAGE                         each pair of VarFileInfo's Translation, LANG in hex
// icons prints, for each icon group (type 14) and each image it names:
//   icon GROUP ID WIDTHxHEIGHT BITS png|bmp           as the image's own header says
// Exit code 0, or 1 with a message when the file is no PE file, is damaged, or lacks what was asked for.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace
{

struct Section {
    uint32_t nVirtual, nVirtualSize, nRaw, nRawSize;
};

struct Resource {
    std::string sType, sName;
    uint32_t nLang, nSize, nOffset;
};

struct Image {
    std::vector<unsigned char> aBytes;
    uint32_t nResourceRoot = 0; // the file offset of the resource directory
    bool bPlus = false;
    uint16_t nMachine = 0, nSubsystem = 0;
    std::vector<Section> aSections;
    uint32_t aDirRva[16] = {}, aDirSize[16] = {};
    std::set<std::string> imports;
    std::vector<Resource> aResources;
};

[[noreturn]] void Die(const std::string &sFile, const std::string &sWhy)
{
    fprintf(stderr, "pecheck: %s: %s\n", sFile.c_str(), sWhy.c_str());
    exit(1);
}

struct Reader {
    const Image &im;
    std::string sFile;
    uint32_t U16(size_t off) const
    {
        if (off + 2 > im.aBytes.size())
            Die(sFile, "damaged: a read past the end of the file");
        return im.aBytes[off] | im.aBytes[off + 1] << 8;
    }
    uint32_t U32(size_t off) const
    {
        return U16(off) | U16(off + 2) << 16;
    }
    // The file offset of an address in the loaded image.
    size_t Offset(uint32_t nRva) const
    {
        for (const Section &s : im.aSections) {
            uint32_t nSize = std::max(s.nVirtualSize, s.nRawSize);
            if (nRva >= s.nVirtual && nRva - s.nVirtual < nSize && nRva - s.nVirtual < s.nRawSize)
                return s.nRaw + (nRva - s.nVirtual);
        }
        Die(sFile, "damaged: an address outside every section");
    }
    std::string Text(size_t off) const
    {
        std::string s;
        while (off < im.aBytes.size() && im.aBytes[off] != 0 && s.size() < 256)
            s += (char)im.aBytes[off++];
        return s;
    }
};

std::string Lower(std::string s)
{
    for (char &c : s)
        c = (char)tolower((unsigned char)c);
    return s;
}

// An entry of a resource directory names a type, a name or a language by number or by a counted UTF-16
// string; the names here are ASCII.
std::string EntryName(const Reader &r, uint32_t nBase, uint32_t nId)
{
    if ((nId & 0x80000000u) == 0)
        return std::to_string(nId);
    size_t off = nBase + (nId & 0x7fffffffu);
    uint32_t n = r.U16(off);
    std::string s;
    for (uint32_t i = 0; i < n; i++) {
        uint32_t c = r.U16(off + 2 + 2 * i);
        s += c < 128 ? (char)c : '?';
    }
    return s;
}

void ReadResources(Image *pIm, const Reader &r)
{
    if (pIm->aDirRva[2] == 0)
        return;
    uint32_t nBase = (uint32_t)r.Offset(pIm->aDirRva[2]);
    pIm->nResourceRoot = nBase;
    // Three levels: type, name, language; a leaf is a data entry.
    auto entries = [&](uint32_t off, std::vector<std::pair<uint32_t, uint32_t>> *pOut) {
        uint32_t n = r.U16(off + 12) + r.U16(off + 14);
        if (n > 4096)
            Die(r.sFile, "damaged: a resource directory of too many entries");
        for (uint32_t i = 0; i < n; i++)
            pOut->push_back({r.U32(off + 16 + 8 * i), r.U32(off + 20 + 8 * i)});
    };
    std::vector<std::pair<uint32_t, uint32_t>> types;
    entries(nBase, &types);
    for (auto &t : types) {
        if ((t.second & 0x80000000u) == 0)
            Die(r.sFile, "damaged: a resource type that is no directory");
        std::vector<std::pair<uint32_t, uint32_t>> names;
        entries(nBase + (t.second & 0x7fffffffu), &names);
        for (auto &nm : names) {
            if ((nm.second & 0x80000000u) == 0)
                Die(r.sFile, "damaged: a resource name that is no directory");
            std::vector<std::pair<uint32_t, uint32_t>> langs;
            entries(nBase + (nm.second & 0x7fffffffu), &langs);
            for (auto &l : langs) {
                if (l.second & 0x80000000u)
                    Die(r.sFile, "damaged: a resource language that is a directory");
                uint32_t nLeaf = nBase + l.second;
                Resource res;
                res.sType = EntryName(r, nBase, t.first);
                res.sName = EntryName(r, nBase, nm.first);
                res.nLang = l.first & 0xffff;
                res.nSize = r.U32(nLeaf + 4);
                res.nOffset = (uint32_t)r.Offset(r.U32(nLeaf));
                if ((uint64_t)res.nOffset + res.nSize > pIm->aBytes.size())
                    Die(r.sFile, "damaged: a resource past the end of the file");
                pIm->aResources.push_back(res);
            }
        }
    }
}

void ReadImports(Image *pIm, const Reader &r)
{
    // The import table (1): descriptors of 20 bytes, the name at +12. The delay-import table (13):
    // descriptors of 32 bytes, the name at +4. Both end with a descriptor of zeros.
    const struct {
        int nDir;
        uint32_t nStep, nName;
    } tables[] = {{1, 20, 12}, {13, 32, 4}};
    for (const auto &t : tables) {
        if (pIm->aDirRva[t.nDir] == 0)
            continue;
        size_t off = r.Offset(pIm->aDirRva[t.nDir]);
        for (int i = 0;; i++, off += t.nStep) {
            if (i > 1000)
                Die(r.sFile, "damaged: an import table without an end");
            uint32_t nName = r.U32(off + t.nName);
            if (nName == 0)
                break;
            pIm->imports.insert(Lower(r.Text(r.Offset(nName))));
        }
    }
}

Image Load(const std::string &sFile)
{
    Image im;
    std::ifstream in(sFile, std::ios::binary);
    if (!in)
        Die(sFile, "cannot open it");
    im.aBytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    Reader r{im, sFile};
    if (im.aBytes.size() < 64 || im.aBytes[0] != 'M' || im.aBytes[1] != 'Z')
        Die(sFile, "no MZ header: not a Windows program");
    uint32_t nPe = r.U32(60);
    if (r.U32(nPe) != 0x4550)
        Die(sFile, "no PE signature: not a Windows program");
    uint32_t nCoff = nPe + 4;
    im.nMachine = (uint16_t)r.U16(nCoff);
    uint32_t nSections = r.U16(nCoff + 2);
    uint32_t nOptSize = r.U16(nCoff + 16);
    uint32_t nOpt = nCoff + 20;
    uint32_t nMagic = r.U16(nOpt);
    if (nMagic != 0x10b && nMagic != 0x20b)
        Die(sFile, "an optional header of neither PE32 nor PE32+");
    im.bPlus = nMagic == 0x20b;
    im.nSubsystem = (uint16_t)r.U16(nOpt + 68);
    uint32_t nDirs = im.bPlus ? nOpt + 112 : nOpt + 96;
    uint32_t nDirCount = std::min<uint32_t>(r.U32(nDirs - 4), 16);
    for (uint32_t i = 0; i < nDirCount; i++) {
        im.aDirRva[i] = r.U32(nDirs + 8 * i);
        im.aDirSize[i] = r.U32(nDirs + 8 * i + 4);
    }
    uint32_t nTable = nOpt + nOptSize;
    for (uint32_t i = 0; i < nSections; i++) {
        uint32_t off = nTable + 40 * i;
        im.aSections.push_back({r.U32(off + 12), r.U32(off + 8), r.U32(off + 20), r.U32(off + 16)});
    }
    ReadImports(&im, r);
    ReadResources(&im, r);
    return im;
}

const char *MachineName(uint16_t n)
{
    switch (n) {
    case 0x14c:
        return "i386";
    case 0x8664:
        return "x86_64";
    }
    return NULL;
}

const Resource *FindResource(const Image &im, const std::string &sType, const std::string &sName)
{
    for (const Resource &res : im.aResources)
        if (res.sType == sType && (sName.empty() || res.sName == sName))
            return &res;
    return nullptr;
}

// UTF-16 code units to UTF-8.
std::string Utf8(const std::vector<uint32_t> &aUnits)
{
    std::string s;
    for (size_t i = 0; i < aUnits.size(); i++) {
        uint32_t c = aUnits[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < aUnits.size() && aUnits[i + 1] >= 0xDC00 &&
            aUnits[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (aUnits[++i] - 0xDC00);
        if (c < 0x80) {
            s += (char)c;
        } else if (c < 0x800) {
            s += (char)(0xC0 | c >> 6);
            s += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += (char)(0xE0 | c >> 12);
            s += (char)(0x80 | (c >> 6 & 0x3F));
            s += (char)(0x80 | (c & 0x3F));
        } else {
            s += (char)(0xF0 | c >> 18);
            s += (char)(0x80 | (c >> 12 & 0x3F));
            s += (char)(0x80 | (c >> 6 & 0x3F));
            s += (char)(0x80 | (c & 0x3F));
        }
    }
    return s;
}

// One block of a version resource: a length, the value's length, its type (1: text), a UTF-16 key, the
// value and the child blocks, each part on a 32-bit boundary from the resource's start.
struct VersionBlock {
    std::string sKey;
    size_t nValue = 0, nValueBytes = 0;
    int nType = 0;
    std::vector<VersionBlock> aChildren;
};

VersionBlock ReadBlock(const Reader &r, size_t nStart, size_t off, size_t nEnd, int nDepth)
{
    auto align = [nStart](size_t n) { return nStart + ((n - nStart + 3) & ~(size_t)3); };
    VersionBlock b;
    size_t nLength = r.U16(off), nValueLength = r.U16(off + 2);
    b.nType = (int)r.U16(off + 4);
    if (nLength < 6 || off + nLength > nEnd || nDepth > 4)
        Die(r.sFile, "damaged: a version resource block out of its bounds");
    std::vector<uint32_t> aKey;
    size_t p = off + 6;
    for (; p < off + nLength && r.U16(p) != 0; p += 2)
        aKey.push_back(r.U16(p));
    b.sKey = Utf8(aKey);
    p = align(p + 2);
    b.nValue = p;
    b.nValueBytes = b.nType == 1 ? 2 * nValueLength : nValueLength;
    if (p + b.nValueBytes > off + nLength)
        Die(r.sFile, "damaged: a version resource value past its block");
    p = align(p + b.nValueBytes);
    while (p + 6 <= off + nLength) {
        VersionBlock child = ReadBlock(r, nStart, p, off + nLength, nDepth + 1);
        size_t nChild = r.U16(p);
        b.aChildren.push_back(child);
        p = align(p + nChild);
    }
    return b;
}

int PrintVersion(const Image &im, const std::string &sFile)
{
    const Resource *pRes = FindResource(im, "16", "");
    if (pRes == nullptr)
        Die(sFile, "no version resource");
    Reader r{im, sFile};
    VersionBlock root = ReadBlock(r, pRes->nOffset, pRes->nOffset, pRes->nOffset + pRes->nSize, 0);
    if (root.sKey != "VS_VERSION_INFO" || root.nValueBytes < 52 || r.U32(root.nValue) != 0xFEEF04BDu)
        Die(sFile, "damaged: a version resource without its fixed part");
    auto quad = [&](size_t off) {
        uint32_t hi = r.U32(off), lo = r.U32(off + 4);
        return std::to_string(hi >> 16) + "." + std::to_string(hi & 0xFFFF) + "." + std::to_string(lo >> 16) +
               "." + std::to_string(lo & 0xFFFF);
    };
    printf("fileversion %s\n", quad(root.nValue + 8).c_str());
    printf("productversion %s\n", quad(root.nValue + 16).c_str());
    for (const VersionBlock &info : root.aChildren) {
        for (const VersionBlock &entry : info.aChildren) {
            if (info.sKey == "StringFileInfo") {
                for (const VersionBlock &s : entry.aChildren) {
                    std::vector<uint32_t> aUnits;
                    for (size_t i = 0; i + 1 < s.nValueBytes; i += 2)
                        if (uint32_t c = r.U16(s.nValue + i))
                            aUnits.push_back(c);
                        else
                            break;
                    printf("string %s %s %s\n", entry.sKey.c_str(), s.sKey.c_str(), Utf8(aUnits).c_str());
                }
            } else if (info.sKey == "VarFileInfo" && entry.sKey == "Translation") {
                for (size_t i = 0; i + 4 <= entry.nValueBytes; i += 4)
                    printf("translation %04x %u\n", r.U16(entry.nValue + i), r.U16(entry.nValue + i + 2));
            }
        }
    }
    return 0;
}

int PrintIcons(const Image &im, const std::string &sFile)
{
    Reader r{im, sFile};
    int nGroups = 0;
    for (const Resource &group : im.aResources) {
        if (group.sType != "14")
            continue;
        nGroups++;
        if (group.nSize < 6)
            Die(sFile, "damaged: an icon group of " + std::to_string(group.nSize) + " bytes");
        uint32_t nCount = r.U16(group.nOffset + 4);
        if (6 + 14 * (size_t)nCount > group.nSize)
            Die(sFile, "damaged: an icon group shorter than its entries");
        for (uint32_t i = 0; i < nCount; i++) {
            std::string sId = std::to_string(r.U16(group.nOffset + 6 + 14 * i + 12));
            const Resource *pIcon = FindResource(im, "3", sId);
            if (pIcon == nullptr)
                Die(sFile, "icon group " + group.sName + " names the image " + sId + ", which is not there");
            size_t off = pIcon->nOffset;
            static const unsigned char aPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
            if (pIcon->nSize >= 33 && memcmp(im.aBytes.data() + off, aPng, 8) == 0) {
                // IHDR: width, height, bit depth, colour type
                const unsigned char *p = im.aBytes.data() + off + 16;
                uint32_t w = (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
                uint32_t h = (uint32_t)p[4] << 24 | p[5] << 16 | p[6] << 8 | p[7];
                int nBits = p[8] * (p[9] == 6 ? 4 : p[9] == 2 ? 3 : p[9] == 4 ? 2 : 1);
                printf("icon %s %s %ux%u %d png\n", group.sName.c_str(), sId.c_str(), w, h, nBits);
            } else if (pIcon->nSize >= 40 && r.U32(off) >= 40) {
                printf("icon %s %s %ux%u %u bmp\n", group.sName.c_str(), sId.c_str(), r.U32(off + 4),
                       r.U32(off + 8) / 2, r.U16(off + 14));
            } else {
                Die(sFile, "damaged: the icon image " + sId + " is neither PNG nor a bitmap");
            }
        }
    }
    if (nGroups == 0)
        Die(sFile, "no icon group");
    return 0;
}

// Renumbers the root entry of the resource type nType to nNew, in place; the entries of numbers stay in
// ascending order, as the loader's search needs.
int Retype(Image &im, const std::string &sFile, uint32_t nType, uint32_t nNew)
{
    Reader r{im, sFile};
    if (im.nResourceRoot == 0)
        Die(sFile, "no resources");
    uint32_t nNamed = r.U16(im.nResourceRoot + 12), nIds = r.U16(im.nResourceRoot + 14);
    size_t nFirst = im.nResourceRoot + 16 + 8 * (size_t)nNamed;
    for (uint32_t i = 0; i < nIds; i++) {
        size_t off = nFirst + 8 * i;
        if (r.U32(off) != nType)
            continue;
        if ((i > 0 && r.U32(off - 8) >= nNew) || (i + 1 < nIds && r.U32(off + 8) <= nNew))
            Die(sFile, "type " + std::to_string(nNew) + " would not keep the types in order");
        for (int k = 0; k < 4; k++)
            im.aBytes[off + k] = (unsigned char)(nNew >> (8 * k));
        std::ofstream out(sFile, std::ios::binary | std::ios::trunc);
        out.write((const char *)im.aBytes.data(), (std::streamsize)im.aBytes.size());
        if (!out)
            Die(sFile, "cannot write it");
        return 0;
    }
    Die(sFile, "no resources of type " + std::to_string(nType));
}

} // namespace

int main(int argc, char **argv)
{
    std::string sCommand = argc > 1 ? argv[1] : "";
    if (sCommand == "info" && argc == 3) {
        Image im = Load(argv[2]);
        printf("format %s\n", im.bPlus ? "PE32+" : "PE32");
        if (const char *p = MachineName(im.nMachine))
            printf("machine %s\n", p);
        else
            printf("machine 0x%04x\n", im.nMachine);
        if (im.nSubsystem == 2 || im.nSubsystem == 3)
            printf("subsystem %s\n", im.nSubsystem == 2 ? "gui" : "console");
        else
            printf("subsystem %u\n", im.nSubsystem);
        for (const std::string &s : im.imports)
            printf("import %s\n", s.c_str());
        for (const Resource &res : im.aResources)
            printf("resource %s %s %u %u %u\n", res.sType.c_str(), res.sName.c_str(), res.nLang, res.nSize,
                   res.nOffset);
        return 0;
    }
    if (sCommand == "dump" && (argc == 5 || argc == 6)) {
        Image im = Load(argv[2]);
        for (const Resource &res : im.aResources) {
            if (res.sType == argv[3] && res.sName == argv[4] &&
                (argc == 5 || std::to_string(res.nLang) == argv[5])) {
                fwrite(im.aBytes.data() + res.nOffset, 1, res.nSize, stdout);
                return 0;
            }
        }
        Die(argv[2], std::string("no resource ") + argv[3] + " " + argv[4]);
    }
    if (sCommand == "version" && argc == 3)
        return PrintVersion(Load(argv[2]), argv[2]);
    if (sCommand == "icons" && argc == 3)
        return PrintIcons(Load(argv[2]), argv[2]);
    if (sCommand == "retype" && argc == 5) {
        Image im = Load(argv[2]);
        return Retype(im, argv[2], (uint32_t)strtoul(argv[3], NULL, 10),
                      (uint32_t)strtoul(argv[4], NULL, 10));
    }
    fprintf(stderr,
            "usage: pecheck info FILE | dump FILE TYPE NAME [LANG] | version FILE | icons FILE | retype "
            "FILE TYPE NEWTYPE\n");
    return 2;
}
