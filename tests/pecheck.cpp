// pecheck.cpp - reads a Windows program (PE32 or PE32+) on the build machine: its format, machine and
// subsystem, the DLLs it imports and its resources, for the checks of the shipped programs that need no
// Windows (tests/pe-static.sh).
//   pecheck info FILE                  the facts, one a line (below)
//   pecheck dump FILE TYPE NAME [LANG] a resource's bytes on standard output
// info prints:
//   format PE32|PE32+
//   machine i386|x86_64|0xNNNN
//   subsystem gui|console|N
//   import NAME          each DLL of the import and delay-import tables, in lower case, sorted
//   resource TYPE NAME LANG SIZE OFFSET   each resource, with its size and file offset (numbers in decimal,
//                        named types and names as their text)
// Exit code 0, or 1 with a message when the file is no PE file or is damaged.

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
    fprintf(stderr, "usage: pecheck info FILE | dump FILE TYPE NAME [LANG]\n");
    return 2;
}
