package quarnel.frontend;

import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

/**
 * Just enough JSON for the library's report and korvo-fe's output: objects
 * read as LinkedHashMap, arrays as List, numbers as Long (or Double), and
 * String, Boolean and null. Written on one line, ", " and ": " between items.
 */
public final class Json {
    private final String text;
    private int at;

    private Json(String text) {
        this.text = text;
    }

    /** The value `text` holds; IllegalArgumentException when it is not JSON. */
    public static Object parse(String text) {
        Json p = new Json(text);
        Object value = p.value();
        p.blanks();
        if (p.at != text.length()) throw p.error("text after the value");
        return value;
    }

    /** An object, or an empty one for anything else (a report that is missing). */
    @SuppressWarnings("unchecked")
    public static Map<String, Object> object(Object value) {
        return value instanceof Map ? (Map<String, Object>) value : new LinkedHashMap<>();
    }

    @SuppressWarnings("unchecked")
    public static List<Object> list(Object value) {
        return value instanceof List ? (List<Object>) value : new ArrayList<>();
    }

    public static String text(Map<String, Object> map, String key) {
        Object v = map.get(key);
        return v == null ? "" : String.valueOf(v);
    }

    public static long number(Map<String, Object> map, String key, long otherwise) {
        Object v = map.get(key);
        return v instanceof Number ? ((Number) v).longValue() : otherwise;
    }

    public static boolean flag(Map<String, Object> map, String key) {
        return Boolean.TRUE.equals(map.get(key));
    }

    /** JSON text of maps, lists, strings, numbers, booleans and null. */
    public static String write(Object value) {
        StringBuilder s = new StringBuilder();
        write(s, value);
        return s.toString();
    }

    private static void write(StringBuilder s, Object value) {
        if (value instanceof Map) {
            s.append('{');
            boolean first = true;
            for (Map.Entry<?, ?> e : ((Map<?, ?>) value).entrySet()) {
                if (!first) s.append(", ");
                first = false;
                quote(s, String.valueOf(e.getKey()));
                s.append(": ");
                write(s, e.getValue());
            }
            s.append('}');
        } else if (value instanceof List) {
            s.append('[');
            boolean first = true;
            for (Object item : (List<?>) value) {
                if (!first) s.append(", ");
                first = false;
                write(s, item);
            }
            s.append(']');
        } else if (value instanceof String) {
            quote(s, (String) value);
        } else {
            s.append(value);
        }
    }

    private static void quote(StringBuilder s, String text) {
        s.append('"');
        for (char c : text.toCharArray()) {
            if (c == '"' || c == '\\') s.append('\\').append(c);
            else if (c < 0x20) s.append(String.format("\\u%04x", (int) c));
            else s.append(c);
        }
        s.append('"');
    }

    private IllegalArgumentException error(String why) {
        return new IllegalArgumentException("JSON: " + why + " at " + at);
    }

    private void blanks() {
        while (at < text.length() && " \t\r\n".indexOf(text.charAt(at)) >= 0) at++;
    }

    private boolean take(char c) {
        blanks();
        if (at < text.length() && text.charAt(at) == c) {
            at++;
            return true;
        }
        return false;
    }

    private void expect(char c) {
        if (!take(c)) throw error("'" + c + "' expected");
    }

    private Object value() {
        blanks();
        if (at >= text.length()) throw error("a value expected");
        char c = text.charAt(at);
        if (c == '{') return members();
        if (c == '[') return items();
        if (c == '"') return string();
        for (String word : new String[] {"true", "false", "null"}) {
            if (text.startsWith(word, at)) {
                at += word.length();
                return word.equals("null") ? null : Boolean.valueOf(word);
            }
        }
        return number();
    }

    private Map<String, Object> members() {
        Map<String, Object> map = new LinkedHashMap<>();
        expect('{');
        if (take('}')) return map;
        do {
            blanks();
            String key = string();
            expect(':');
            map.put(key, value());
        } while (take(','));
        expect('}');
        return map;
    }

    private List<Object> items() {
        List<Object> list = new ArrayList<>();
        expect('[');
        if (take(']')) return list;
        do {
            list.add(value());
        } while (take(','));
        expect(']');
        return list;
    }

    private String string() {
        if (at >= text.length() || text.charAt(at) != '"') throw error("a string expected");
        StringBuilder s = new StringBuilder();
        for (at++; at < text.length(); at++) {
            char c = text.charAt(at);
            if (c == '"') {
                at++;
                return s.toString();
            }
            if (c != '\\') {
                s.append(c);
                continue;
            }
            if (++at >= text.length()) break;
            char e = text.charAt(at);
            switch (e) {
                case 'n': s.append('\n'); break;
                case 't': s.append('\t'); break;
                case 'r': s.append('\r'); break;
                case 'b': s.append('\b'); break;
                case 'f': s.append('\f'); break;
                case 'u':
                    if (at + 5 > text.length()) throw error("short \\u escape");
                    s.append((char) Integer.parseInt(text.substring(at + 1, at + 5), 16));
                    at += 4;
                    break;
                default: s.append(e);
            }
        }
        throw error("unterminated string");
    }

    private Object number() {
        int start = at;
        while (at < text.length() && "+-0123456789.eE".indexOf(text.charAt(at)) >= 0) at++;
        String n = text.substring(start, at);
        try {
            return n.matches("-?\\d+") ? (Object) Long.valueOf(n) : (Object) Double.valueOf(n);
        } catch (NumberFormatException e) {
            throw error("a value expected");
        }
    }
}
