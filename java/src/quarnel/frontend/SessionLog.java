package quarnel.frontend;

import java.io.ByteArrayOutputStream;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.io.PrintStream;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.time.ZonedDateTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.zip.CRC32;

/**
 * The trace of one korvo-fe session for a support ticket (--log FILE): each
 * telegram in both directions, korvo-fe's notes on the line, the library's
 * status and debug lines, what korvo-fe printed, the report and the exit
 * status; one event a line, each behind its time to the millisecond.
 * Sessions are appended to the file, each opened by a line starting "#".
 * A password never goes in. Thread-safe: the reader thread, the library's
 * callbacks and the main thread all write to it.
 */
public final class SessionLog {
    /** Writes nothing. */
    public static final SessionLog NONE = new SessionLog(null, null);

    // Longer telegrams (program data) keep their head and say what the rest was.
    static final int WHOLE_TELEGRAM = 160, TELEGRAM_HEAD = 64;
    static final String HIDDEN = "(password left out)";
    private static final DateTimeFormatter TIME = DateTimeFormatter.ofPattern("HH:mm:ss.SSS");
    private static final DateTimeFormatter START = DateTimeFormatter.ofPattern("yyyy-MM-dd HH:mm:ss.SSS xxx");

    private final OutputStream file;
    private final PrintStream complaints;
    private boolean failed, closed;
    private String lastStatus;

    private SessionLog(OutputStream file, PrintStream complaints) {
        this.file = file;
        this.complaints = complaints;
    }

    /** Opens `path` for appending and writes the session's first line; IOException when it cannot. */
    public static SessionLog open(String path, String[] args, PrintStream complaints) throws IOException {
        SessionLog log = new SessionLog(new FileOutputStream(path, true), complaints);
        log.write("# korvo-fe session " + ZonedDateTime.now().format(START) + ": korvo-fe "
                  + String.join(" ", withoutPasswords(args)));
        return log;
    }

    public boolean on() {
        return file != null;
    }

    /** A telegram korvo-fe sent (">>") or received ("<<"), framing taken off; `where` names a port ("" for the device line). */
    public void telegram(String direction, String where, byte[] text) {
        if (!on()) return;
        event(direction, (where.isEmpty() ? "" : where + ": ") + shown(text));
    }

    /** The same for a command the library sends: kind ("sMN", "sRN", "sEN"), name and parameter bytes. */
    public void sent(String kind, String name, byte[] parameters) {
        if (!on()) return;
        byte[] head = (kind + " " + name).getBytes(StandardCharsets.ISO_8859_1);
        byte[] text = new byte[head.length + parameters.length];
        System.arraycopy(head, 0, text, 0, head.length);
        System.arraycopy(parameters, 0, text, head.length, parameters.length);
        telegram(">>", "", text);
    }

    /** A status of the library; repeats of the same one are left out. */
    public void status(String text, int percent) {
        String line = (percent >= 0 ? String.format("%3d%% ", percent) : "     ") + text;
        synchronized (this) {
            if (line.equals(lastStatus)) return;
            lastStatus = line;
        }
        event("status", line);
    }

    /** Each line of a debug text of the library. */
    public void debug(String text) {
        for (String line : text.split("\r?\n")) if (!line.isEmpty()) event("debug", line);
    }

    public void note(String text) {
        event("note", text);
    }

    /** The reports korvo-fe's result holds ("firstReport" before "report"). */
    public void reports(Map<String, Object> result) {
        for (String key : new String[] {"firstReport", "report"}) {
            if (result.get(key) instanceof Map) event(key.equals("report") ? "report" : "first", Json.write(result.get(key)));
        }
    }

    /** The session's last line; the file is closed, and what comes later is left out. */
    public void end(int status) {
        event("exit", String.valueOf(status));
        synchronized (this) {
            if (file == null || closed) return;
            closed = true;
            try {
                file.close();
            } catch (IOException e) {
                // every line was flushed as it was written
            }
        }
    }

    /** `to`, and each line printed to it into the log as `kind` ("out", "err"). */
    public PrintStream tee(PrintStream to, String kind) {
        if (!on()) return to;
        Charset charset = Charset.defaultCharset();
        OutputStream both = new OutputStream() {
            private final ByteArrayOutputStream line = new ByteArrayOutputStream();

            @Override
            public synchronized void write(int b) {
                to.write(b);
                take(b);
            }

            @Override
            public synchronized void write(byte[] bytes, int from, int count) {
                to.write(bytes, from, count);
                for (int i = from; i < from + count; i++) take(bytes[i]);
            }

            @Override
            public void flush() {
                to.flush();
            }

            // A progress bar redrawn in place (\r) leaves only its last state.
            private void take(int b) {
                if (b == '\r') {
                    line.reset();
                } else if (b == '\n') {
                    if (line.size() > 0) event(kind, line.toString(charset));
                    line.reset();
                } else {
                    line.write(b);
                }
            }
        };
        return new PrintStream(both, true, charset);
    }

    public void event(String kind, String text) {
        if (!on()) return;
        write(ZonedDateTime.now().format(TIME) + " " + String.format("%-6s ", kind) + text.replace("\n", "\\n"));
    }

    private synchronized void write(String line) {
        if (failed || closed) return;
        try {
            file.write((line + "\n").getBytes(StandardCharsets.UTF_8));
            file.flush();
        } catch (IOException e) {
            // Once: the session goes on without its trace.
            failed = true;
            if (complaints != null) complaints.println("korvo-fe: the trace could not be written: " + e.getMessage());
        }
    }

    /** Telegram text readable as one line: printable ASCII as it is, other bytes as \xHH. */
    static String shown(byte[] text) {
        String hidden = hiddenPassword(text);
        if (hidden != null) return hidden;
        boolean whole = text.length <= WHOLE_TELEGRAM;
        StringBuilder s = new StringBuilder();
        for (int i = 0; i < (whole ? text.length : TELEGRAM_HEAD); i++) {
            int b = text[i] & 0xFF;
            if (b == '\\') s.append("\\\\");
            else if (b >= 0x20 && b < 0x7F) s.append((char) b);
            else s.append(String.format("\\x%02X", b));
        }
        if (!whole) {
            CRC32 crc = new CRC32();
            crc.update(text);
            s.append(String.format(" ... (%d bytes, CRC-32 %08X)", text.length, crc.getValue()));
        }
        return s.toString();
    }

    // "sMN SetAccessMode LEVEL PASSWORD": the level stays.
    private static String hiddenPassword(byte[] text) {
        String s = new String(text, StandardCharsets.ISO_8859_1);
        String head = "sMN SetAccessMode ";
        if (!s.startsWith(head)) return null;
        int blank = s.indexOf(' ', head.length());
        return (blank < 0 ? s : s.substring(0, blank)) + " " + HIDDEN;
    }

    // The command line as it may go into a ticket: the password of --login
    // LEVEL:PASSWORD and of the login command left out.
    static List<String> withoutPasswords(String[] args) {
        List<String> shown = new ArrayList<>();
        for (int i = 0; i < args.length; i++) {
            String a = args[i];
            if (i > 0 && args[i - 1].equals("--login") && a.contains(":")) {
                a = a.substring(0, a.indexOf(':') + 1) + HIDDEN;
            } else if (i > 1 && args[i - 2].equals("login")) {
                a = HIDDEN;
            }
            shown.add(a);
        }
        return shown;
    }
}
