package quarnel.frontend;

import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.time.Instant;
import java.time.ZoneOffset;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * One download as the history keeps it. Its hash is the SHA-256 of its
 * canonical form: the fields below in this order, with the hash of the
 * record before it, as compact JSON. The sequence number is left out of it:
 * it only orders the records, and renumbering them must not hide an
 * inserted or removed one, which the links show. Public for programs that
 * check a history by other means. Not thread-safe.
 */
public final class HistoryRecord {
    /** The link of the first record. */
    public static final String GENESIS = "0".repeat(64);
    static final DateTimeFormatter TIME =
        DateTimeFormatter.ofPattern("yyyy-MM-dd'T'HH:mm:ss.SSS'Z'").withZone(ZoneOffset.UTC);

    /** A field: its name in JSON and the canonical form, its column, and whether it is a number. */
    record Field(String name, String column, boolean number) {
    }

    // Stored hashes depend on this list: append to it, never reorder or rename.
    static final List<Field> FIELDS = List.of(
        new Field("uuid", "uuid", false),
        new Field("time", "time", false),
        new Field("station", "station", false),
        new Field("user", "user_name", false),
        new Field("level", "user_level", false),
        new Field("command", "command", false),
        new Field("device", "device", false),
        new Field("identBefore", "ident_before", false),
        new Field("identAfter", "ident_after", false),
        new Field("configName", "config_name", false),
        new Field("configSha256", "config_sha256", false),
        new Field("keySha256", "key_sha256", false),
        new Field("devices", "devices", false),
        new Field("durationMs", "duration_ms", true),
        new Field("code", "code", true),
        new Field("result", "result", false));

    private final Map<String, Object> values = new LinkedHashMap<>();
    public long seq;
    public String prev = "", hash = "";

    /** A record with every field empty (or 0). */
    public HistoryRecord() {
        for (Field f : FIELDS) values.put(f.name(), f.number() ? (Object) 0L : "");
    }

    public HistoryRecord set(String name, Object value) {
        Field f = field(name);
        // PostgreSQL's text holds no NUL: a device may still answer one.
        values.put(name, f.number() ? (Object) ((Number) value).longValue()
                                    : String.valueOf(value).replace('\0', '\uFFFD'));
        return this;
    }

    public String text(String name) {
        return String.valueOf(values.get(name));
    }

    long number(String name) {
        return (Long) values.get(name);
    }

    Object get(String name) {
        return values.get(name);
    }

    static String time(Instant instant) {
        return TIME.format(instant);
    }

    /** What the hash covers. */
    public String canonical() {
        StringBuilder s = new StringBuilder("{");
        for (Field f : FIELDS) {
            quote(s, f.name());
            s.append(':');
            if (f.number()) s.append(values.get(f.name()));
            else quote(s, text(f.name()));
            s.append(',');
        }
        quote(s, "prev");
        s.append(':');
        quote(s, prev);
        return s.append('}').toString();
    }

    public String computeHash() {
        return sha256(canonical().getBytes(StandardCharsets.UTF_8));
    }

    /** Takes its place after the record `seq - 1`, whose hash is `prev`. */
    public void seal(long seq, String prev) {
        this.seq = seq;
        this.prev = prev;
        this.hash = computeHash();
    }

    /** The fields only, as the spool keeps a record not yet in a chain. */
    Map<String, Object> fields() {
        return new LinkedHashMap<>(values);
    }

    static HistoryRecord ofFields(Map<String, Object> map) {
        HistoryRecord r = new HistoryRecord();
        for (Field f : FIELDS) {
            Object v = map.get(f.name());
            if (v == null) throw new IllegalArgumentException("no " + f.name());
            r.set(f.name(), f.number() && !(v instanceof Number) ? Long.parseLong(v.toString()) : v);
        }
        return r;
    }

    /** For --json: everything, with the devices as JSON rather than text. */
    Map<String, Object> toJson() {
        Map<String, Object> m = new LinkedHashMap<>();
        m.put("seq", seq);
        m.putAll(values);
        try {
            m.put("devices", Json.parse(text("devices")));
        } catch (IllegalArgumentException e) {
            // a changed record may hold anything: show it as it is
        }
        m.put("prev", prev);
        m.put("hash", hash);
        return m;
    }

    static List<String> csvHeader() {
        List<String> h = new ArrayList<>(List.of("seq"));
        for (Field f : FIELDS) h.add(f.name());
        h.addAll(List.of("prev", "hash"));
        return h;
    }

    List<String> csvRow() {
        List<String> row = new ArrayList<>(List.of(String.valueOf(seq)));
        for (Field f : FIELDS) row.add(text(f.name()));
        row.addAll(List.of(prev, hash));
        return row;
    }

    // Kept here, not shared with Json: the stored hashes depend on every byte of it.
    private static void quote(StringBuilder s, String text) {
        s.append('"');
        for (char c : text.toCharArray()) {
            if (c == '"' || c == '\\') s.append('\\').append(c);
            else if (c < 0x20) s.append(String.format("\\u%04x", (int) c));
            else s.append(c);
        }
        s.append('"');
    }

    private static Field field(String name) {
        for (Field f : FIELDS) if (f.name().equals(name)) return f;
        throw new IllegalArgumentException("no history field " + name);
    }

    static String sha256(byte[] bytes) {
        return hex(digest().digest(bytes));
    }

    static MessageDigest digest() {
        try {
            return MessageDigest.getInstance("SHA-256");
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every Java has SHA-256", e);
        }
    }

    static String hex(byte[] bytes) {
        StringBuilder s = new StringBuilder();
        for (byte b : bytes) s.append(String.format("%02x", b));
        return s.toString();
    }
}
