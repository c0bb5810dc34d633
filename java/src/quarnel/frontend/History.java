package quarnel.frontend;

import java.io.IOException;
import java.io.InputStream;
import java.io.PrintStream;
import java.net.InetAddress;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.sql.SQLException;
import java.time.Instant;
import java.time.LocalDate;
import java.time.LocalDateTime;
import java.time.ZoneId;
import java.time.ZonedDateTime;
import java.time.format.DateTimeFormatter;
import java.time.format.DateTimeParseException;
import java.time.temporal.ChronoUnit;
import java.time.temporal.TemporalAccessor;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.Set;
import java.util.UUID;
import java.util.function.Consumer;
import java.util.stream.Collectors;

/**
 * The download history: every download korvo-fe runs (alone or as one of a
 * station's) becomes a record in a database, an SQLite file by default or
 * a PostgreSQL server given by URL. A record that cannot reach its database
 * waits in a local spool and is written on the next run. `korvo-fe history`
 * lists the records and checks their chain.
 */
final class History {
    /** The options of `korvo-fe history`; --csv alone takes no value. */
    static final Set<String> OPTIONS = Set.of("--ident", "--from", "--to", "--result", "--csv");
    static final Set<String> FLAGS = Set.of("--csv");
    /** What the `result` field says, by korvo-fe's exit status. */
    static final Map<Integer, String> RESULTS = Map.of(
        Results.OK, "succeeded", Results.FAILED, "failed", Results.REFUSED, "refused",
        Results.DEVICE, "device-failure", Results.NOTHING_WRITTEN, "nothing-written",
        Results.NOT_VERIFIED, "not-verified", Interruption.EXIT_STATUS, "interrupted");

    static final long PREPARE_WAIT_MS = 10_000;

    final String target, station;
    final HistorySpool spool;
    private final Map<String, String> digests = new java.util.concurrent.ConcurrentHashMap<>();

    private History(String target, String station, HistorySpool spool) {
        this.target = target;
        this.station = station;
        this.spool = spool;
    }

    /**
     * The history of --history `option` (else $KORVO_HISTORY, else the
     * station's own file) for the station `stationOption` (else
     * $KORVO_STATION, else the host's name).
     */
    static History of(String option, String stationOption) {
        Path home = dataHome().resolve("korvo");
        String target = first(option, System.getenv("KORVO_HISTORY"), home.resolve("history.sqlite").toString());
        // A file's path is the same history however it was written.
        if (!HistoryStore.isServer(target) && !target.startsWith("jdbc:")) {
            target = Paths.get(target).toAbsolutePath().normalize().toString();
        }
        Path spoolRoot = Paths.get(first(System.getenv("KORVO_SPOOL"), null, home.resolve("spool").toString()));
        String key = HistoryRecord.sha256(target.getBytes(StandardCharsets.UTF_8)).substring(0, 16);
        return new History(target, first(stationOption, System.getenv("KORVO_STATION"), hostName()),
                           new HistorySpool(spoolRoot.resolve(key)));
    }

    private static String first(String a, String b, String otherwise) {
        if (a != null && !a.isEmpty()) return a;
        return b != null && !b.isEmpty() ? b : otherwise;
    }

    private static Path dataHome() {
        String xdg = System.getenv("XDG_DATA_HOME"), local = System.getenv("LOCALAPPDATA");
        if (xdg != null && !xdg.isEmpty()) return Paths.get(xdg);
        if (local != null && !local.isEmpty()) return Paths.get(local);
        return Paths.get(System.getProperty("user.home"), ".local", "share");
    }

    private static String hostName() {
        try {
            return InetAddress.getLocalHost().getHostName();
        } catch (IOException e) {
            return first(System.getenv("HOSTNAME"), System.getenv("COMPUTERNAME"), "station");
        }
    }

    String shownTarget() {
        return HistoryStore.shown(target);
    }

    /** What korvo-fe knows of a download when it is over. */
    record Download(String command, String device, String login, String config, String key, Instant start,
                    long durationMs, int status, Map<String, Object> json) {
    }

    /** The record of `d`: its devices as the library's report(s) left them. */
    HistoryRecord of(Download d) {
        Map<String, Object> json = d.json();
        List<Map<String, Object>> reports = new ArrayList<>();
        if (json.containsKey("firstReport")) reports.add(Json.object(json.get("firstReport")));
        if (json.containsKey("report")) reports.add(Json.object(json.get("report")));
        Map<String, Object> verify = Json.object(json.get("verify"));
        return new HistoryRecord()
            .set("uuid", UUID.randomUUID().toString())
            .set("time", HistoryRecord.time(d.start()))
            .set("station", station)
            .set("user", System.getProperty("user.name", ""))
            .set("level", d.login() == null ? "" : d.login().substring(0, d.login().indexOf(':')))
            .set("command", d.command())
            .set("device", d.device() == null ? "" : d.device())
            .set("identBefore", Json.text(json, "identBefore"))
            .set("identAfter", Json.text(verify, "after"))
            .set("configName", d.config() == null ? "" : Paths.get(d.config()).toAbsolutePath().normalize().toString())
            .set("configSha256", digest(d.config()))
            .set("keySha256", digest(d.key()))
            .set("devices", Json.write(ReportText.devices(reports)))
            .set("durationMs", d.durationMs())
            .set("code", Json.number(json, "result", -1))
            .set("result", RESULTS.getOrDefault(d.status(), "failed"));
    }

    /**
     * Called as a download starts: once `sending` says program data are on
     * their way (the library has read the files; at the latest after
     * PREPARE_WAIT_MS), hashes its files and loads the database's driver on
     * a thread of its own, while the download waits on its line. A
     * station's children all start, and end, at once: this work would
     * otherwise add to theirs on the station's cores.
     */
    void prepare(String config, String key, java.util.function.BooleanSupplier sending) {
        Thread t = new Thread(() -> {
            try {
                for (long waited = 0; waited < PREPARE_WAIT_MS && !sending.getAsBoolean(); waited += 100) {
                    Thread.sleep(100);
                }
            } catch (InterruptedException e) {
                return;
            }
            digest(config);
            digest(key);
            try {
                HistoryStore.loadDriver(target);
            } catch (SQLException | RuntimeException | LinkageError e) {
                // said when the record is written
            }
        }, "korvo-fe-history");
        t.setDaemon(true);
        t.start();
    }

    // A file's hash, computed once (a second caller waits for the first).
    private String digest(String path) {
        return path == null || path.isEmpty() ? "" : digests.computeIfAbsent(path, History::fileSha256);
    }

    /** "" for a file that cannot be read: the record says so by leaving it out. */
    static String fileSha256(String path) {
        if (path == null || path.isEmpty()) return "";
        java.security.MessageDigest digest = HistoryRecord.digest();
        try (InputStream in = Files.newInputStream(Paths.get(path))) {
            byte[] buffer = new byte[1 << 16];
            for (int n; (n = in.read(buffer)) > 0;) digest.update(buffer, 0, n);
            return HistoryRecord.hex(digest.digest());
        } catch (IOException | RuntimeException e) {
            return "";
        }
    }

    /**
     * Writes `r` after whatever the spool keeps from earlier runs. When the
     * database cannot be reached, says so on `err` and keeps `r` in the
     * spool; false then.
     */
    boolean record(HistoryRecord r, PrintStream err) {
        try (HistoryStore store = HistoryStore.open(target)) {
            writeSpool(store, err);
            store.append(r);
            return true;
        } catch (SQLException | RuntimeException e) {
            String why = "korvo-fe: history: cannot write to " + shownTarget() + " (" + reason(e) + ")";
            try {
                spool.keep(r);
                err.println(why + "; the record is kept in " + spool.dir() + " and written on the next run");
            } catch (IOException | RuntimeException f) {
                err.println(why + "; it cannot be kept in " + spool.dir() + " either (" + f.getMessage()
                            + "): the record is " + Json.write(r.fields()));
            }
            return false;
        }
    }

    // The spool's records, oldest first, each once.
    private void writeSpool(HistoryStore store, PrintStream err) throws SQLException {
        int written = 0;
        List<Path> files;
        try {
            files = spool.waiting();
        } catch (IOException e) {
            err.println("korvo-fe: history: cannot read the spool " + spool.dir() + ": " + e.getMessage());
            return;
        }
        for (Path f : files) {
            HistoryRecord r;
            try {
                r = HistorySpool.read(f);
            } catch (IOException | RuntimeException e) {
                // Gone meanwhile (another process wrote it), or not ours to fix: it stays for a person.
                if (Files.exists(f)) err.println("korvo-fe: history: the spooled record " + f + " cannot be read: " + e.getMessage());
                continue;
            }
            if (store.append(r)) written++;
            try {
                HistorySpool.done(f);
            } catch (IOException e) {
                err.println("korvo-fe: history: cannot remove " + f + " (written already): " + e.getMessage());
            }
        }
        if (written > 0) {
            err.println("korvo-fe: history: wrote " + written + (written == 1 ? " record" : " records")
                        + " kept from an earlier run to " + shownTarget());
        }
    }

    private static String reason(Throwable e) {
        String m = e.getMessage();
        return (m == null || m.isEmpty() ? e.getClass().getSimpleName() : m).lines().findFirst().orElse("");
    }

    /** `korvo-fe history`: the records that pass the filters, as text, in `json` or as CSV on `out`. */
    int list(Map<String, String> options, Map<String, Object> json, Consumer<String> text, PrintStream out,
             PrintStream err) {
        String from = options.containsKey("--from") ? bound(options.get("--from"), false, "--from") : null;
        String to = options.containsKey("--to") ? bound(options.get("--to"), true, "--to") : null;
        Set<String> results = options.containsKey("--result") ? resultWords(options.get("--result")) : null;
        String ident = options.get("--ident");
        List<HistoryRecord> records = stored(from, to, err);
        if (records == null) return Results.FAILED;
        records.removeIf(r -> results != null && !results.contains(r.text("result"))
                              || ident != null && !r.text("identBefore").contains(ident)
                                 && !r.text("identAfter").contains(ident));
        json.put("history", shownTarget());
        json.put("records", records.stream().map(HistoryRecord::toJson).toList());
        if (options.containsKey("--csv")) {
            out.println(csv(HistoryRecord.csvHeader()));
            for (HistoryRecord r : records) out.println(csv(r.csvRow()));
        } else {
            records.forEach(r -> text.accept(line(r)));
            text.accept("history: " + records.size() + (records.size() == 1 ? " record" : " records")
                        + " in " + shownTarget());
        }
        return Results.OK;
    }

    /** `korvo-fe history verify`: OK when the chain is whole, FAILED naming the first break. */
    int verify(Map<String, Object> json, Consumer<String> text, PrintStream err) {
        List<HistoryRecord> records = stored(null, null, err);
        if (records == null) return Results.FAILED;
        HistoryChain.Break broken = HistoryChain.verify(records);
        json.put("history", shownTarget());
        json.put("records", records.size());
        json.put("whole", broken == null);
        if (broken != null) {
            json.put("break", Map.of("seq", broken.seq(), "why", broken.why()));
            err.println("korvo-fe: history: the chain is broken: " + broken.why());
            return Results.FAILED;
        }
        HistoryRecord last = records.isEmpty() ? null : records.get(records.size() - 1);
        if (last != null) json.put("last", Map.of("seq", last.seq, "hash", last.hash));
        text.accept("history: " + records.size() + (records.size() == 1 ? " record" : " records") + " in "
                    + shownTarget() + ", the chain is whole"
                    + (last == null ? "" : "; the last is record " + last.seq + ", hash " + last.hash));
        return Results.OK;
    }

    /**
     * The records from `from` to `to`, after those waiting in the spool;
     * null (and why on `err`) when they cannot be read. A file that is not
     * there is not made: a mistyped path must not read as a whole, empty
     * chain.
     */
    private List<HistoryRecord> stored(String from, String to, PrintStream err) {
        int waiting;
        try {
            waiting = spool.waiting().size();
        } catch (IOException f) {
            waiting = 0;
        }
        if (waiting == 0 && HistoryStore.absent(target)) {
            err.println("korvo-fe: history: there is no history " + shownTarget() + " (nothing was recorded there)");
            return null;
        }
        try (HistoryStore store = HistoryStore.open(target)) {
            writeSpool(store, err);
            return store.read(from, to);
        } catch (SQLException | RuntimeException e) {
            err.println("korvo-fe: history: cannot read " + shownTarget() + " (" + reason(e) + ")"
                        + (waiting > 0 ? "; " + waiting + " record(s) wait in " + spool.dir() : ""));
            return null;
        }
    }

    static String line(HistoryRecord r) {
        String before = r.text("identBefore"), after = r.text("identAfter");
        List<String> parts = new ArrayList<>(List.of(String.valueOf(r.seq), r.text("time"), r.text("station"),
            r.text("device"), before.isEmpty() ? "(no identification)" : before));
        if (!after.isEmpty() && !after.equals(before)) parts.add("-> " + after);
        if (!r.text("level").isEmpty()) parts.add("level " + r.text("level"));
        parts.add(r.text("command") + " " + Paths.get(r.text("configName")).getFileName());
        parts.add(r.text("result") + " (" + r.number("code") + ")");
        String devices;
        try {
            devices = Json.list(Json.parse(r.text("devices"))).stream().map(Json::object)
                .map(d -> Json.number(d, "number", 0) + " " + Json.text(d, "outcome")).collect(Collectors.joining(", "));
        } catch (IllegalArgumentException e) {
            devices = "";
        }
        if (!devices.isEmpty()) parts.add("devices " + devices);
        parts.add(String.format("%.1f s", r.number("durationMs") / 1000.0));
        return String.join("  ", parts);
    }

    static String csv(List<String> fields) {
        return fields.stream().map(f -> f.matches("(?s).*[,\"\r\n].*") ? "\"" + f.replace("\"", "\"\"") + "\"" : f)
            .collect(Collectors.joining(","));
    }

    private static Set<String> resultWords(String text) {
        Set<String> words = Set.copyOf(Arrays.asList(text.split(",")));
        for (String w : words) {
            if (!RESULTS.containsValue(w)) {
                throw new IllegalArgumentException("--result takes " + String.join(", ", new java.util.TreeSet<>(RESULTS.values()))
                                                   + " (or several, with commas), not " + w);
            }
        }
        return words;
    }

    /**
     * The stored time at which what `text` names starts, or with `end`, the
     * first after it: a date is its whole day, a time its whole minute or
     * second; local time unless it names its zone.
     */
    static String bound(String text, boolean end, String option) {
        String t = text.trim().replace(' ', 'T');
        try {
            if (t.matches("\\d{4}-\\d{2}-\\d{2}")) {
                LocalDate day = LocalDate.parse(t);
                return HistoryRecord.time((end ? day.plusDays(1) : day).atStartOfDay(ZoneId.systemDefault()).toInstant());
            }
            TemporalAccessor parsed = DateTimeFormatter.ISO_DATE_TIME.parseBest(t, ZonedDateTime::from, LocalDateTime::from);
            Instant at = parsed instanceof ZonedDateTime z ? z.toInstant()
                         : ((LocalDateTime) parsed).atZone(ZoneId.systemDefault()).toInstant();
            if (end) {
                String clock = t.substring(t.indexOf('T') + 1).replaceAll("(Z|[+-].*|\\[.*)$", "");
                at = at.plus(1, clock.contains(".") ? ChronoUnit.MILLIS
                                : clock.split(":").length > 2 ? ChronoUnit.SECONDS : ChronoUnit.MINUTES);
            }
            return HistoryRecord.time(at);
        } catch (DateTimeParseException e) {
            throw new IllegalArgumentException(option + " takes a date or a time such as 2024-05-01 or"
                                               + " 2024-05-01T14:30 (local time unless it ends in Z or +HH:MM), not " + text);
        }
    }
}
