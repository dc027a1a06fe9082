"""The qos_client_data message: its C object, its descriptor (payload type,
identifier, name, trace sites of section 0) and one-line wrappers over the
message engine (messages/message.cc)."""

H = "mox_handle_t *h"
DB = "uint32_t db"
ERR = "uint32_t *err"

# Section-0 entries in orva::MsgSite order (messages/message.h).
SITES = ["varinfo_null", "variant_excess", "stats_failed", "varinfo_null_destroy",
         "variant_excess_destroy", "stats_failed_destroy", "corrupt_handle", "tinfo_corrupt",
         "get_error", "marshal_error", "domain_fail", "bundle_invalid", "marshal_failed_detail",
         "marshal_failed", "bundle_count", "unmarshal_error", "record_failed", "default_handler",
         "unmarshal_only_error", "record_malloc", "record_no_file", "record_not_written",
         "print_error", "to_xml_error", "from_xml_error"]


def ctype(m):
    return f"{m.name}_message_t"


def wire_name(m):
    """The text that names the message to the bundle registry."""
    return f"message {m.name}"


def handler_name(cat):
    return f"{cat.module}_{cat.message.name}_message_handler"


def operations(m):
    """(return type, name, parameters, engine call) of the message operations."""
    n, M, k = m.name, ctype(m), "orva::k_message"
    return [
        (f"{M} *", f"{n}_message_create", f"{H}, {DB}",
         f"return static_cast<{M} *>(orva::message_create({k}, h, db, false));"),
        (f"{M} *", f"{n}_message_create_cr", H,
         f"return static_cast<{M} *>(orva::message_create_cr({k}, h));"),
        (f"{M} *", f"{n}_message_create_shallow", f"{H}, {DB}",
         f"return static_cast<{M} *>(orva::message_create({k}, h, db, true));"),
        ("void", f"{n}_message_destroy", f"{H}, {DB}, {M} *msg",
         f"orva::message_destroy({k}, h, db, msg);"),
        ("uint32_t", f"{n}_message_len", f"{H}, {DB}, const {M} *msg",
         f"return orva::message_len({k}, h, db, msg);"),
        (f"{m.payload} *", f"{n}_message_{m.payload}_get", f"{H}, {DB}, {M} *msg, {ERR}",
         f"return static_cast<{m.payload} *>(orva::message_payload_get({k}, h, db, msg, err));"),
        ("uint32_t", f"{n}_message_marshal", f"{H}, {DB}, uint8_t *buf, {M} *msg, int32_t buflen, {ERR}",
         f"return orva::message_marshal({k}, h, db, buf, msg, buflen, err);"),
        ("uint32_t", f"{n}_message_unmarshal",
         f"{H}, {DB}, void *context, {M} **out, const uint8_t *buf, int32_t len, "
         f"{n}_message_handler_fn handler, {ERR}",
         f"return orva::message_unmarshal({k}, h, db, context, reinterpret_cast<void **>(out), buf, len, "
         f"reinterpret_cast<orva::MessageHandler>(handler), err);"),
        ("uint32_t", f"{n}_message_unmarshal_only",
         f"{H}, {DB}, {M} **out, const uint8_t *buf, int32_t len, {ERR}",
         f"return orva::message_unmarshal_only({k}, h, db, reinterpret_cast<void **>(out), buf, len, err);"),
        ("uint32_t", f"{n}_message_print", f"{H}, {DB}, char *buf, const {M} *msg, int32_t buflen, {ERR}",
         f"return orva::message_print({k}, h, db, buf, msg, buflen, err);"),
        ("uint32_t", f"{n}_message_to_xml", f"{H}, {DB}, char *buf, const {M} *msg, int32_t buflen, {ERR}",
         f"return orva::message_to_xml({k}, h, db, buf, msg, buflen, err);"),
        (f"{M} *", f"{n}_message_from_xml",
         f"{H}, {DB}, mox_xml_doc_t *doc, {ERR}, char *msgbuf, uint32_t msglen",
         f"return static_cast<{M} *>(orva::message_from_xml({k}, h, db, doc, err, msgbuf, msglen));"),
    ]


def declarations(cat):
    """The message's C object, handler type, operations and exported data."""
    m = cat.message
    if m is None:
        return ""
    M = ctype(m)
    o = ["/* The message: object, handler, operations and identity. */\n",
         f"typedef struct {m.name}_message {{\n  MOX_OBJ_HEADER;\n  mox_msg_header_t header;\n"
         f"  {m.payload} *payload;\n}} {M};\n",
         f"typedef void (*{m.name}_message_handler_fn)(mox_handle_t *h, uint32_t db, void *context, "
         f"{M} *msg, uint32_t *err);\n"]
    for ret, name, params, _ in operations(m):
        o.append(f"{ret} {name}({params});\n")
    o.append(f"/* Defined by the owning process, optionally. */\n"
             f"void {handler_name(cat)}(mox_handle_t *h, uint32_t db, void *context, {M} *msg, "
             f"uint32_t *err);\n")
    o.append(f"typedef uint8_t {m.name}_message_luid_t[16];\n")
    o.append(f"typedef char {m.name}_message_name_t[{len(wire_name(m)) + 1}];\n")
    o.append(f"extern const {m.name}_message_luid_t message_{m.name}_luid;\n")
    o.append(f"extern const {m.name}_message_name_t message_{m.name}_name;\n\n")
    return "".join(o)


def exports(cat, msg_index, type_info_symbol):
    """(exports.inc text, exported names): descriptor, wrappers, data."""
    m = cat.message
    if m is None:
        return "", []
    M = ctype(m)
    idx = ", ".join(str(msg_index[(0, "module", cat.module, s)]) for s in SITES)
    luid = ", ".join(f"0x{b:02x}" for b in m.luid_bytes)
    o = ['}  // extern "C"\n\n#include "messages/message.h"\n\n',
         f'extern "C" {{\n__attribute__((weak)) void {handler_name(cat)}(mox_handle_t *, uint32_t, void *, '
         f'{M} *, uint32_t *);\n',
         f"extern ORVA_EXPORT const {m.name}_message_luid_t message_{m.name}_luid = {{{luid}}};\n",
         f'extern ORVA_EXPORT const {m.name}_message_name_t message_{m.name}_name = "{wire_name(m)}";\n}}\n\n',
         "namespace orva {\n",
         f"static_assert(sizeof({M}) == sizeof(MessageObj));\n",
         f"inline constexpr uint16_t k_message_sites[] = {{{idx}}};\n",
         f"static_assert(std::size(k_message_sites) == size_t(MsgSite::Count));\n",
         f"inline {M} k_message_placeholder;\n",
         f"inline void k_message_invoke(MessageHandler fn, mox_handle_t *h, uint32_t db, void *context, "
         f"void *msg, uint32_t *err) {{\n"
         f"  reinterpret_cast<{m.name}_message_handler_fn>(fn)(h, db, context, static_cast<{M} *>(msg), err);\n}}\n",
         f'const MessageDesc k_message = {{"{m.name}", message_{m.name}_name, &{type_info_symbol(m)}, '
         f"message_{m.name}_luid, &k_{m.payload}, &k_message_placeholder, k_message_sites, "
         f"reinterpret_cast<MessageHandler>(&{handler_name(cat)}), k_message_invoke}};\n",
         '}  // namespace orva\n\nextern "C" {\n']
    names = []
    for ret, name, params, body in operations(m):
        names.append(name)
        o.append(f"ORVA_EXPORT {ret} {name}({params}) {{ {body} }}\n")
    names += [f"message_{m.name}_luid", f"message_{m.name}_name"]
    return "".join(o), names
