// Reads sections out of a library file on disk (ELF, 32- or 64-bit,
// little-endian) without loading it, and turns the trace catalogue and the
// type manifest it finds there into text.  Every length and offset is checked
// against what was read: a damaged file ends in a one-line message and exit
// status 1.  Section layouts: docs/runtime.md ("Trace catalogue sections",
// "Binary trace capture") and docs/architecture.md ("Type manifest").
#include "qosdata_libfile.h"

#include <bzlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void fail(const std::string &what) { throw std::runtime_error(what); }

// A bounds-checked little-endian cursor over bytes.
class Reader {
 public:
  Reader(const uint8_t *p, size_t n, std::string what) : p_(p), n_(n), what_(std::move(what)) {}
  Reader(const Bytes &b, std::string what) : Reader(b.data(), b.size(), std::move(what)) {}
  size_t left() const { return n_ - at_; }
  size_t at() const { return at_; }
  void seek(uint64_t to) {
    if (to > n_) fail(what_ + ": offset " + std::to_string(to) + " beyond its " +
                      std::to_string(n_) + " bytes");
    at_ = static_cast<size_t>(to);
  }
  uint64_t word(size_t bytes) {
    const uint8_t *w = take(bytes);
    uint64_t v = 0;
    for (size_t i = 0; i < bytes; ++i) v |= uint64_t{w[i]} << (8 * i);
    return v;
  }
  uint32_t u32() { return static_cast<uint32_t>(word(4)); }
  uint16_t u16() { return static_cast<uint16_t>(word(2)); }
  uint8_t u8() { return static_cast<uint8_t>(word(1)); }
  const uint8_t *take(uint64_t len) {
    if (len > left())
      fail(what_ + ": " + std::to_string(len) + " bytes wanted at offset " + std::to_string(at_) +
           ", " + std::to_string(left()) + " left");
    const uint8_t *start = p_ + at_;
    at_ += static_cast<size_t>(len);
    return start;
  }
  std::string text(uint64_t len) {
    const uint8_t *s = take(len);
    return std::string(reinterpret_cast<const char *>(s), static_cast<size_t>(len));
  }

 private:
  const uint8_t *p_;
  size_t n_;
  size_t at_ = 0;
  std::string what_;
};

Bytes read_file(const std::string &path) {
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) fail("cannot read " + path + ": " + std::strerror(errno));
  Bytes out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  const bool bad = std::ferror(f);
  std::fclose(f);
  if (bad) fail("cannot read " + path);
  return out;
}

constexpr uint32_t kShtNobits = 8;

struct Section {
  std::string name;
  uint32_t type;
  uint64_t offset, size;
};

// The section headers of an ELF file held in memory.
class ElfFile {
 public:
  explicit ElfFile(const std::string &path) : path_(path), data_(read_file(path)) { parse(); }

  const Section *find(const std::string &name) const {
    for (const Section &s : sections_)
      if (s.name == name) return &s;
    return nullptr;
  }
  std::vector<const Section *> with_prefix(const std::string &prefix) const {
    std::vector<const Section *> out;
    for (const Section &s : sections_)
      if (s.name.compare(0, prefix.size(), prefix) == 0) out.push_back(&s);
    return out;
  }
  Bytes bytes(const Section &s) const {
    if (s.type == kShtNobits) fail(path_ + ": section " + s.name + " has no bytes in the file");
    Reader r(data_, path_ + ": section " + s.name);
    r.seek(s.offset);
    const uint8_t *p = r.take(s.size);
    return Bytes(p, p + s.size);
  }
  Bytes bytes(const std::string &name) const {
    const Section *s = find(name);
    if (!s) fail(path_ + ": no section " + name);
    return bytes(*s);
  }
  const std::string &path() const { return path_; }

 private:
  void parse() {
    Reader r(data_, path_ + ": ELF header");
    if (data_.size() < 16 || std::memcmp(data_.data(), "\177ELF", 4) != 0)
      fail(path_ + ": not an ELF file");
    const uint8_t cls = data_[4];
    if (cls != 1 && cls != 2) fail(path_ + ": unknown ELF class " + std::to_string(cls));
    if (data_[5] != 1) fail(path_ + ": not a little-endian ELF file");
    const bool wide = cls == 2;
    const size_t addr = wide ? 8 : 4;
    r.seek(wide ? 0x28 : 0x20);
    const uint64_t shoff = r.word(addr);
    r.seek(wide ? 0x3A : 0x2E);
    const uint16_t shentsize = r.u16(), shnum = r.u16(), shstrndx = r.u16();
    if (shentsize < (wide ? 64 : 40)) fail(path_ + ": section header size " + std::to_string(shentsize));
    if (shstrndx >= shnum) fail(path_ + ": no section name table");
    Reader h(data_, path_ + ": section headers");
    std::vector<uint32_t> names;
    for (uint32_t i = 0; i < shnum; ++i) {
      h.seek(shoff + uint64_t{i} * shentsize);
      Section s;
      names.push_back(h.u32());
      s.type = h.u32();
      h.word(addr);  // flags
      h.word(addr);  // address
      s.offset = h.word(addr);
      s.size = h.word(addr);
      sections_.push_back(s);
    }
    const Bytes table = bytes(sections_[shstrndx]);
    for (size_t i = 0; i < sections_.size(); ++i) {
      if (names[i] >= table.size()) fail(path_ + ": section name outside the name table");
      const auto *start = table.data() + names[i];
      const auto *end = std::find(start, table.data() + table.size(), uint8_t{0});
      if (end == table.data() + table.size()) fail(path_ + ": section name not terminated");
      sections_[i].name.assign(start, end);
    }
  }

  std::string path_;
  Bytes data_;
  std::vector<Section> sections_;
};

// ---------------------------------------------------------------------------
// The trace catalogue
// ---------------------------------------------------------------------------

constexpr char kLuidsPrefix[] = ".quill_luids_";
constexpr size_t kIndexHeader = 20, kIndexEntry = 6, kDecoderBytes = 34;

struct Entry {
  uint32_t word;  // level byte in bits 24-31, the argument kinds' number in bits 0-15
  std::string text;
};
struct CatSection {
  uint16_t number;
  std::string luid;  // 16 bytes
  std::vector<Entry> entries;
};

uint32_t fnv1a(const uint8_t *p, size_t n, uint32_t h = 0x811C9DC5u) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x01000193u;
  return h;
}

std::string hex(const std::string &bytes) {
  std::string out;
  char b[3];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

std::vector<CatSection> load_catalogue(const ElfFile &elf) {
  const Bytes dec = elf.bytes(".quill_decoder");
  if (dec.size() != kDecoderBytes || std::memcmp(dec.data(), "QDEC", 4) != 0)
    fail(elf.path() + ": .quill_decoder is not a decoder block of " + std::to_string(kDecoderBytes) +
         " bytes");
  Reader d(dec, ".quill_decoder");
  d.take(4);
  const uint16_t version = d.u16(), nsections = d.u16();
  const uint32_t nentries = d.u32(), text_len = d.u32(), packed_len = d.u32(), text_sum = d.u32(),
                 index_sum = d.u32();
  const uint16_t word_layout = d.u16(), capture_version = d.u16(), order = d.u16();
  if (version != 1 || word_layout != 1 || capture_version != 1 || order != 0x0102)
    fail(elf.path() + ": .quill_decoder of an unknown version or byte order");

  std::vector<CatSection> out;
  std::vector<std::pair<uint16_t, Bytes>> indexes;
  for (const Section *s : elf.with_prefix(kLuidsPrefix)) {
    const Bytes b = elf.bytes(*s);
    const std::string what = elf.path() + ": " + s->name;
    if (b.size() < kIndexHeader || (b.size() - kIndexHeader) % kIndexEntry != 0)
      fail(what + ": " + std::to_string(b.size()) + " bytes are not a header and 6-byte entries");
    Reader r(b, what);
    CatSection c;
    if (r.u16() != 1) fail(what + ": index version is not 1");
    c.number = r.u16();
    c.luid = r.text(16);
    if (s->name != kLuidsPrefix + hex(c.luid)) fail(what + ": identifier " + hex(c.luid) + " differs from the name");
    while (r.left()) {
      const uint32_t word = r.u32();
      c.entries.push_back({word, std::string(r.u16(), ' ')});
    }
    for (const CatSection &o : out)
      if (o.number == c.number) fail(what + ": section number " + std::to_string(c.number) + " twice");
    indexes.emplace_back(c.number, b);
    out.push_back(std::move(c));
  }
  std::sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.number < b.number; });
  std::sort(indexes.begin(), indexes.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
  size_t entries = 0;
  uint64_t lengths = 0;
  uint32_t sum = 0x811C9DC5u;
  for (size_t i = 0; i < out.size(); ++i) {
    entries += out[i].entries.size();
    for (const Entry &e : out[i].entries) lengths += e.text.size();
    sum = fnv1a(indexes[i].second.data(), indexes[i].second.size(), sum);
  }
  if (out.size() != nsections || entries != nentries)
    fail(elf.path() + ": " + std::to_string(out.size()) + " index sections with " + std::to_string(entries) +
         " entries, the decoder block says " + std::to_string(nsections) + " with " + std::to_string(nentries));
  if (sum != index_sum) fail(elf.path() + ": index sections do not match the decoder block's checksum");
  if (lengths != text_len)
    fail(elf.path() + ": entry lengths add up to " + std::to_string(lengths) + " bytes, the text has " +
         std::to_string(text_len));

  Bytes packed = elf.bytes(".quill_format_strings");
  if (packed.size() != packed_len)
    fail(elf.path() + ": .quill_format_strings holds " + std::to_string(packed.size()) + " bytes, the decoder block says " +
         std::to_string(packed_len));
  std::string text(size_t{text_len} + 1, '\0');  // one byte more: a longer text is seen
  unsigned int got = static_cast<unsigned int>(text.size());
  const int rc = BZ2_bzBuffToBuffDecompress(text.data(), &got, reinterpret_cast<char *>(packed.data()),
                                            static_cast<unsigned int>(packed.size()), 0, 0);
  if (rc == BZ_OUTBUFF_FULL || (rc == BZ_OK && got != text_len))
    fail(elf.path() + ": the format strings do not decompress to the " + std::to_string(text_len) +
         " bytes the entry lengths add up to");
  if (rc != BZ_OK) fail(elf.path() + ": corrupt bzip2 stream in .quill_format_strings (error " + std::to_string(rc) + ")");
  text.resize(text_len);
  if (fnv1a(reinterpret_cast<const uint8_t *>(text.data()), text.size()) != text_sum)
    fail(elf.path() + ": format strings do not match the decoder block's checksum");
  size_t at = 0;
  for (CatSection &c : out)
    for (size_t i = 0; i < c.entries.size(); ++i) {
      Entry &e = c.entries[i];
      e.text = text.substr(at, e.text.size());
      at += e.text.size();
      if (e.text.empty() || e.text[0] != ' ')
        fail(elf.path() + ": section " + std::to_string(c.number) + " index " + std::to_string(i) +
             ": format string without its leading blank");
    }
  return out;
}

int list_catalogue(const ElfFile &elf) {
  for (const CatSection &c : load_catalogue(elf))
    for (size_t i = 0; i < c.entries.size(); ++i)
      std::printf("%u %zu%s\n", c.number, i, c.entries[i].text.c_str());
  return 0;
}

// One argument of a captured message.
struct Arg {
  uint8_t kind;  // 1 string, 4 32-bit integer
  std::string s;
  bool null = false;
  uint32_t u = 0;
  const char *str() const { return null ? "(null)" : s.c_str(); }
};

// The text the runtime renders for a message: the same format, the same
// conversions, the same 512-byte buffer, the same placeholder on a mismatch.
std::string render(const Entry &e, const std::vector<Arg> &a) {
  std::string kinds, digits;
  for (const Arg &x : a) {
    kinds += x.kind == 1 ? 's' : 'u';
    digits += x.kind == 1 ? '1' : '4';
  }
  const uint32_t want = e.word & 0xFFFFu;
  const char *fmt = e.text.c_str() + 1;
  char out[512];
  if ((want ? std::to_string(want) : std::string()) != digits) {
    std::snprintf(out, sizeof out, "<format does not match arguments (%s): %s>",
                  kinds.empty() ? "none" : kinds.c_str(), fmt);
    return out;
  }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
  if (kinds == "") std::snprintf(out, sizeof out, fmt);
  else if (kinds == "s") std::snprintf(out, sizeof out, fmt, a[0].str());
  else if (kinds == "u") std::snprintf(out, sizeof out, fmt, a[0].u);
  else if (kinds == "ss") std::snprintf(out, sizeof out, fmt, a[0].str(), a[1].str());
  else if (kinds == "su") std::snprintf(out, sizeof out, fmt, a[0].str(), a[1].u);
  else if (kinds == "us") std::snprintf(out, sizeof out, fmt, a[0].u, a[1].str());
  else if (kinds == "uu") std::snprintf(out, sizeof out, fmt, a[0].u, a[1].u);
  else if (kinds == "sss") std::snprintf(out, sizeof out, fmt, a[0].str(), a[1].str(), a[2].str());
  else if (kinds == "uuu") std::snprintf(out, sizeof out, fmt, a[0].u, a[1].u, a[2].u);
  else fail("no emitter takes the arguments " + digits);
#pragma GCC diagnostic pop
  return out;
}

int decode_capture(const ElfFile &elf, const std::string &path) {
  const std::vector<CatSection> cat = load_catalogue(elf);
  const Bytes cap = read_file(path);
  Reader r(cap, path);
  if (cap.size() < 8 || r.text(8) != "QLCAPT1\n") fail(path + ": not a trace capture");
  for (size_t n = 1; r.left(); ++n) {
    const std::string what = path + ": record " + std::to_string(n);
    const uint32_t len = r.u32();
    Reader rec(r.take(len), len, what);
    const std::string luid = rec.text(16);
    const uint16_t number = rec.u16();
    const uint32_t index = rec.u32(), level = rec.u32();
    const std::string module = rec.text(rec.u16());
    std::vector<Arg> args(rec.u8());
    if (args.size() > 3) fail(what + ": " + std::to_string(args.size()) + " arguments");
    for (Arg &a : args) {
      a.kind = rec.u8();
      if (a.kind == 4) {
        a.u = rec.u32();
      } else if (a.kind == 1) {
        const uint32_t slen = rec.u32();
        a.null = slen == 0xFFFFFFFFu;
        if (!a.null) a.s = rec.text(slen);
      } else {
        fail(what + ": argument kind " + std::to_string(a.kind));
      }
    }
    if (rec.left()) fail(what + ": " + std::to_string(rec.left()) + " bytes after its arguments");
    auto sec = std::find_if(cat.begin(), cat.end(), [&](const CatSection &c) { return c.luid == luid; });
    if (sec == cat.end()) fail(what + ": unknown section identifier " + hex(luid));
    if (sec->number != number)
      fail(what + ": section " + hex(luid) + " is number " + std::to_string(sec->number) + ", not " + std::to_string(number));
    if (index >= sec->entries.size())
      fail(what + ": index " + std::to_string(index) + " outside section " + std::to_string(number) + " (" +
           std::to_string(sec->entries.size()) + " messages)");
    std::printf("[%s %u:%u level 0x%x] %s\n", module.c_str(), number, index, level,
                render(sec->entries[index], args).c_str());
  }
  return 0;
}

// ---------------------------------------------------------------------------
// The type manifest
// ---------------------------------------------------------------------------

int print_manifest(const ElfFile &elf) {
  const Bytes m = elf.bytes(".orva_manifest");
  Reader r(m, elf.path() + ": .orva_manifest");
  std::string text, build;
  bool have_text = false;
  while (r.left() >= 8) {
    const uint32_t len = r.u32(), tag = r.u32();
    std::string payload = r.text(len);
    if (tag == 2) {
      if (payload.empty() || payload.back() != '\0') fail(elf.path() + ": manifest text not NUL-terminated");
      payload.pop_back();
      text = payload;
      have_text = true;
    } else if (tag == 1) {
      build = payload;
    }
  }
  const uint8_t *rest = r.take(r.left());
  if (std::any_of(rest, m.data() + m.size(), [](uint8_t b) { return b != 0; }))
    fail(elf.path() + ": .orva_manifest: bytes after its records");
  if (!have_text) fail(elf.path() + ": .orva_manifest holds no manifest text");
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fwrite(build.data(), 1, build.size(), stdout);
  return 0;
}

}  // namespace

int library_file_command(int argc, char **argv) {
  const std::string cmd = argv[0];
  const bool trace = cmd == "trace";
  if (argc < 2 || argc > (trace ? 3 : 2)) {
    std::fprintf(stderr, "qosdata: %s takes the arguments %s (%d given)\n", cmd.c_str(),
                 trace ? "LIB [CAPTURE]" : "LIB", argc - 1);
    return 1;
  }
  try {
    const ElfFile elf(argv[1]);
    if (!trace) return print_manifest(elf);
    return argc == 3 ? decode_capture(elf, argv[2]) : list_catalogue(elf);
  } catch (const std::exception &e) {
    std::fflush(stdout);
    std::fprintf(stderr, "qosdata: %s\n", e.what());
    return 1;
  }
}
