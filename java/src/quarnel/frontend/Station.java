package quarnel.frontend;

import java.io.IOException;
import java.io.PrintStream;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileAlreadyExistsException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Set;

/**
 * korvo-fe line: a station downloading to many devices at once. The
 * library's state is process-wide, so each device gets a korvo-fe of its
 * own (a JVM running the ordinary download with --events, which records it
 * in the history); this one shows their progress in one table, writes a
 * log file per device, passes Ctrl-C on to every one of them, and sums up.
 * A device that fails never stops the others.
 */
final class Station {
    /** The options of `korvo-fe line`. */
    static final Set<String> OPTIONS = Set.of("--devices", "--log-dir");
    /** Exit statuses: some downloads succeeded, none did (all did: 0). */
    static final int SOME = 7, NONE = 8;
    static final long REDRAW_MS = 250;
    // korvo-fe's options that are the station's own, not its children's: with a value, and without.
    private static final Set<String> OWN = Set.of("--device", "--devices", "--log-dir", "--history", "--station");
    private static final Set<String> OWN_FLAGS = Set.of("--json", "--plain", "--events");

    /**
     * What Main parsed: the devices of --device, the line's own options,
     * korvo-fe's arguments with the index of the word "line", and the
     * history every child writes to.
     */
    record Settings(List<String> devices, Map<String, String> options, String[] args, int commandAt,
                    boolean json, boolean terminal, String history, String station) {
    }

    private final Settings settings;
    private final PrintStream out, err;
    private final Interruption interruption;
    private final Map<String, Object> json;
    private final List<StationChild> children = new ArrayList<>();

    Station(Settings settings, PrintStream out, PrintStream err, Interruption interruption, Map<String, Object> json) {
        this.settings = settings;
        this.out = out;
        this.err = err;
        this.interruption = interruption;
        this.json = json;
    }

    int run(String config, String key) throws InterruptedException {
        List<String> devices = devices();
        for (String[] file : new String[][] {{config, "configuration"}, {key, "key file"}}) {
            Path p = Paths.get(file[0]);
            if (!Files.isRegularFile(p) || !Files.isReadable(p)) {
                err.println("korvo-fe: the " + file[1] + " " + file[0] + (Files.exists(p) ? " cannot be read" : " does not exist"));
                return Results.FAILED;
            }
        }
        Path logs;
        try {
            logs = logFolder();
        } catch (IOException e) {
            err.println("korvo-fe: cannot make the log folder: " + e.getMessage());
            return Results.FAILED;
        }
        StationTable table = new StationTable(out, settings.terminal() && !settings.json(), children, this::outcome);
        for (String d : devices) {
            int n = children.size() + 1;
            children.add(new StationChild(n, d, logs.resolve(n + "-" + d.replaceAll("[^A-Za-z0-9._-]", "_") + ".log"),
                                          c -> { if (!settings.json()) table.changed(c); }));
        }
        if (!settings.json()) {
            out.println("line: " + children.size() + (children.size() == 1 ? " device" : " devices") + ", logs in "
                        + logs + ", history " + HistoryStore.shown(settings.history()));
        }
        interruption.during(this::stopAll, this::stopAll);
        try {
            for (StationChild c : children) c.start(command(c.device));
            while (children.stream().anyMatch(StationChild::alive)) {
                table.draw();
                Thread.sleep(REDRAW_MS);
            }
            for (StationChild c : children) c.waitFor();
        } finally {
            interruption.during(null, null);
        }
        table.draw();
        return summary(logs);
    }

    /** --device in order, then the lines of --devices FILE; each once. */
    private List<String> devices() {
        Set<String> all = new LinkedHashSet<>();
        List<String> given = new ArrayList<>(settings.devices());
        String file = settings.options().get("--devices");
        if (file != null) {
            try {
                for (String l : Files.readAllLines(Paths.get(file), StandardCharsets.UTF_8)) {
                    String d = l.trim();
                    if (!d.isEmpty() && !d.startsWith("#")) given.add(d);
                }
            } catch (IOException e) {
                throw new IllegalArgumentException("--devices " + file + " cannot be read: " + e.getMessage());
            }
        }
        for (String d : given) {
            TelegramLine.Address.parse(d);  // says what is wrong with it
            if (!all.add(d)) throw new IllegalArgumentException("the device " + d + " is given twice");
        }
        if (all.isEmpty()) throw new IllegalArgumentException("line needs --device or --devices FILE");
        return new ArrayList<>(all);
    }

    // --log-dir, else a new folder named by the time in the current one.
    private Path logFolder() throws IOException {
        String given = settings.options().get("--log-dir");
        if (given != null) return Files.createDirectories(Paths.get(given));
        String name = "korvo-line-" + LocalDateTime.now().format(DateTimeFormatter.ofPattern("yyyyMMdd-HHmmss"));
        for (int i = 1;; i++) {
            try {
                return Files.createDirectory(Paths.get(i == 1 ? name : name + "-" + i));
            } catch (FileAlreadyExistsException e) {
                // a station started in the same second: the next name
            }
        }
    }

    /** A child's command: this JVM's, and korvo-fe's arguments less the station's own. */
    private List<String> command(String device) {
        List<String> command = new ArrayList<>();
        command.add(ProcessHandle.current().info().command()
                    .orElse(Paths.get(System.getProperty("java.home"), "bin", "java").toString()));
        // Each child mostly waits on its line, and they all start at once:
        // the quick compiler alone and one collector thread leave the
        // station's cores to the downloads. Options given to the station come
        // after these and win; a collector it names replaces this one.
        List<String> given = ManagementFactory.getRuntimeMXBean().getInputArguments();
        command.add("-XX:TieredStopAtLevel=1");
        if (given.stream().noneMatch(a -> a.matches("-XX:\\+Use\\w*GC"))) command.add("-XX:+UseSerialGC");
        for (String a : given) {
            if (!a.startsWith("-Dkorvo.fe.terminal=") && !a.startsWith("-agentlib") && !a.startsWith("-javaagent")
                && !a.startsWith("-Xrunjdwp") && !a.equals("-Xdebug")) command.add(a);
        }
        command.addAll(List.of("-cp", System.getProperty("java.class.path"), Main.class.getName()));
        String[] args = settings.args();
        for (int i = 0; i < args.length; i++) {
            if (i == settings.commandAt() || OWN_FLAGS.contains(args[i])) continue;
            if (OWN.contains(args[i])) {
                i++;
                continue;
            }
            command.add(args[i]);
        }
        command.addAll(List.of("--device", device, "--events", "--history", settings.history(),
                               "--station", settings.station()));
        return command;
    }

    private void stopAll() {
        for (StationChild c : children) c.stop();
    }

    // What became of a device, for the table and the summary ("" while it runs).
    private String outcome(StationChild c) {
        if (c.alive()) return "";
        Map<String, Object> r = c.result();
        if (c.status() == Results.OK) return "succeeded";
        String word = History.RESULTS.getOrDefault(c.status(), c.status() < 0 ? "not started" : "failed");
        return r != null && r.containsKey("result") ? word + " (" + Json.number(r, "result", 0) + ")" : word;
    }

    private int summary(Path logs) {
        int succeeded = 0;
        List<Object> devices = new ArrayList<>();
        for (StationChild c : children) {
            Map<String, Object> r = c.result();
            boolean ok = c.status() == Results.OK;
            if (ok) succeeded++;
            Map<String, Object> d = new LinkedHashMap<>();
            d.put("number", c.number);
            d.put("device", c.device);
            d.put("ident", c.ident);
            d.put("status", c.status());
            d.put("outcome", outcome(c));
            d.put("durationMs", c.elapsedMs());
            d.put("log", c.log.toString());
            if (r != null) d.put("result", r);
            devices.add(d);
            String why = ok ? "" : r != null && r.containsKey("text") ? ": " + Json.text(r, "text")
                       : c.lastError().isEmpty() ? "" : ": " + c.lastError();
            List<Object> written = r == null ? List.of() : Json.list(r.get("written"));
            text("line: " + c.number + " " + c.device + "  " + (c.ident.isEmpty() ? "(no identification)" : c.ident)
                 + "  " + outcome(c) + why + (written.isEmpty() ? "" : "; written: device " + join(written))
                 + String.format("  %.1f s", c.elapsedMs() / 1000.0) + "  log " + c.log);
        }
        int all = children.size();
        boolean interrupted = interruption.happened();
        text("line: " + succeeded + " of " + all + " downloads succeeded" + (interrupted ? " (interrupted)" : ""));
        json.put("devices", devices);
        json.put("succeeded", succeeded);
        json.put("failed", all - succeeded);
        json.put("logs", logs.toString());
        json.put("history", HistoryStore.shown(settings.history()));
        if (interrupted) {
            json.put("interrupted", true);
            return Interruption.EXIT_STATUS;
        }
        return succeeded == all ? Results.OK : succeeded > 0 ? SOME : NONE;
    }

    private static String join(List<Object> numbers) {
        return String.join(", ", numbers.stream().map(String::valueOf).toList());
    }

    private void text(String s) {
        if (!settings.json()) out.println(s);
    }
}
