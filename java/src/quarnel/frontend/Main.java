package quarnel.frontend;

import java.io.PrintStream;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;

import quarnel.firmwaredownload.Configurator;
import quarnel.firmwaredownload.ExeResponse;
import quarnel.firmwaredownload.Executor;
import quarnel.firmwaredownload.FirstStageExecutor;
import quarnel.firmwaredownload.TAVISInterface;

/** korvo-fe: the reference front end over the library's Java classes. */
public final class Main {
    static final String HELP = String.join("\n",
        "usage: korvo-fe [OPTIONS] COMMAND ARGUMENTS",
        "",
        "Commands:",
        "  connect                       read the device's identification",
        "  login LEVEL PASSWORD          log in at a user level",
        "  download CONFIG KEY [--skip N] [--only N] [--login LEVEL:PASSWORD]",
        "                                download a configuration; a device without",
        "                                application gets its application part, is",
        "                                reconnected and gets the rest in a second call",
        "  first-stage CONFIG            first-stage download of the APP device",
        "  build PROJECT                 build a download configuration from a project",
        "",
        "Options:",
        "  --device tcp:HOST:PORT | serial:PATH   the device (all commands but build)",
        "  --json          print one JSON result object instead of text",
        "  --plain         plain status lines even on a terminal",
        "  --comm NAME     communication name, \"Keta A\" (default) or \"Keta B\"",
        "  --baud N        line speed the library uses for its own COM port (9600)",
        "  --reconnect-seconds N   how long to wait for a rebooted device (30)",
        "",
        "Exit status: 0 success; 1 failed (configuration, key file, other errors);",
        "2 usage error; 3 refused (login, access rights, downloader version);",
        "4 device failure (no answer, error answer, lost line). The result codes",
        "are listed in docs/front-end.md.",
        "");

    private final PrintStream out;
    private final PrintStream err;
    private final boolean terminal;
    private final Map<String, Object> json = new LinkedHashMap<>();
    private boolean jsonOutput, plain;
    private String device, comm = "Keta A", baud = "9600", login;
    private int skip = -1, only = -1, reconnectSeconds = 30;
    private TAVISInterface tavis;
    private TelegramLine line;
    private Progress progress;

    private Main(PrintStream out, PrintStream err, boolean terminal) {
        this.out = out;
        this.err = err;
        this.terminal = terminal;
    }

    public static void main(String[] args) {
        String tty = System.getProperty("korvo.fe.terminal");
        boolean terminal = tty != null ? Boolean.parseBoolean(tty) : System.console() != null;
        int status = run(args, System.out, System.err, terminal);
        System.out.flush();
        System.exit(status);
    }

    /** Runs one command; returns the exit status. */
    public static int run(String[] args, PrintStream out, PrintStream err, boolean terminal) {
        Main main = new Main(out, err, terminal);
        try {
            return main.command(args);
        } catch (IllegalArgumentException e) {
            err.println("korvo-fe: " + e.getMessage());
            err.println("Try korvo-fe --help.");
            return Results.USAGE;
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            err.println("korvo-fe: interrupted");
            return Results.FAILED;
        } finally {
            if (main.line != null) main.line.close();
        }
    }

    private int command(String[] args) throws InterruptedException {
        List<String> words = new ArrayList<>();
        for (int i = 0; i < args.length; i++) {
            String a = args[i];
            switch (a) {
                case "--help": case "-h": out.print(HELP); return Results.OK;
                case "--json": jsonOutput = true; break;
                case "--plain": plain = true; break;
                case "--device": device = value(args, ++i, a); break;
                case "--comm": comm = value(args, ++i, a); break;
                case "--baud": baud = value(args, ++i, a); break;
                case "--login": login = value(args, ++i, a); break;
                case "--skip": skip = number(value(args, ++i, a), a); break;
                case "--only": only = number(value(args, ++i, a), a); break;
                case "--reconnect-seconds": reconnectSeconds = number(value(args, ++i, a), a); break;
                default:
                    if (a.startsWith("--")) throw new IllegalArgumentException("unknown option " + a);
                    words.add(a);
            }
        }
        if (words.isEmpty()) throw new IllegalArgumentException("no command given");
        String name = words.get(0);
        int wanted = Map.of("connect", 1, "login", 3, "download", 3, "first-stage", 2, "build", 2)
                        .getOrDefault(name, -1);
        if (wanted < 0) throw new IllegalArgumentException("unknown command " + name);
        if (words.size() != wanted) throw new IllegalArgumentException(name + " takes " + (wanted - 1) + " argument(s)");
        if (login != null && !login.contains(":")) throw new IllegalArgumentException("--login takes LEVEL:PASSWORD");
        json.put("command", name);
        long start = System.nanoTime();
        int status;
        if (name.equals("build")) {
            int rc = new Configurator().CreateConfigFileIF(words.get(1));
            json.put("result", rc);
            status = rc == 0 ? Results.OK : Results.FAILED;
            text("build: result " + rc + (rc == 0 ? " (success)" : " (see docs/front-end.md)"));
        } else {
            setUp();
            switch (name) {
                case "connect": status = connect(); break;
                case "login": status = connect() != Results.OK ? Results.DEVICE : login(words.get(1), words.get(2)); break;
                case "download": status = download(words.get(1), words.get(2)); break;
                default: status = firstStage(words.get(1));
            }
        }
        if (line != null && !line.lastError().isEmpty()) json.put("lineError", line.lastError());
        json.put("durationMs", (System.nanoTime() - start) / 1_000_000);
        if (progress != null) progress.finish();
        if (jsonOutput) out.println(toJson(json));
        return status;
    }

    private void setUp() {
        if (device == null) throw new IllegalArgumentException("--device tcp:HOST:PORT or serial:PATH is needed");
        TelegramLine.Address address = TelegramLine.Address.parse(device);
        Progress.Mode mode = jsonOutput ? Progress.Mode.QUIET : terminal && !plain ? Progress.Mode.BAR : Progress.Mode.LINES;
        tavis = new TAVISInterface();
        line = new TelegramLine(address, tavis, (text, percent) -> progress.status(text, percent));
        progress = new Progress(out, mode, line::dataBytes);
        TAVISInterface.setDeviceLine(line);
        // The library falls back to its own serial port: the same terminal.
        tavis.SetupJNI(comm, baud, address.serial() ? address.path() : "");
    }

    private int connect() {
        String ident = tavis.ConnectDeviceIF();
        json.put("ident", ident);
        if (ident.isEmpty()) {
            json.put("result", -1);
            err.println("korvo-fe: no device answered on " + device + lineError());
            return Results.DEVICE;
        }
        json.put("result", 0);
        text("device: " + ident);
        return Results.OK;
    }

    private int login(String level, String password) {
        int rc = tavis.LoginDeviceIF(level, password);
        json.put("result", rc);
        text("login at level " + level + (rc == 0 ? ": granted" : ": refused"));
        return rc == 0 ? Results.OK : Results.REFUSED;
    }

    private boolean loginIfAsked() {
        if (login == null) return true;
        int colon = login.indexOf(':');
        return login(login.substring(0, colon), login.substring(colon + 1)) == Results.OK;
    }

    private int download(String config, String key) throws InterruptedException {
        if (connect() != Results.OK) return Results.DEVICE;
        if (!loginIfAsked()) return Results.REFUSED;
        ExeResponse r = new Executor().ExecuteDownloadIF(config, key, skip, only);
        boolean second = r.iManagerError == 0 && r.bOnlyAppDownloaded;
        json.put("onlyApplicationDownloaded", r.bOnlyAppDownloaded);
        json.put("deviceUploaded", r.iDeviceWhichWasUploaded);
        if (second) {
            // The device now runs its new application: reconnect, then the rest.
            progress.finish();
            text("application part downloaded to device " + r.iDeviceWhichWasUploaded
                 + "; reconnecting for the remaining devices");
            if (!reconnect()) {
                report(r);
                err.println("korvo-fe: the device did not come back with its application within "
                            + reconnectSeconds + " s" + lineError());
                return Results.DEVICE;
            }
            if (!loginIfAsked()) return Results.REFUSED;
            r = new Executor().ExecuteDownloadIF(config, key, r.iDeviceWhichWasUploaded, only);
        }
        json.put("secondCall", second);
        report(r);
        return Results.downloadStatus(r.iManagerError);
    }

    private boolean reconnect() throws InterruptedException {
        line.close();
        long deadline = System.nanoTime() + reconnectSeconds * 1_000_000_000L;
        while (System.nanoTime() < deadline) {
            Thread.sleep(500);
            String ident = tavis.ConnectDeviceIF();
            if (!ident.isEmpty() && !ident.equals("No Program")) {
                json.put("ident", ident);
                return true;
            }
        }
        return false;
    }

    private int firstStage(String config) {
        if (connect() != Results.OK) return Results.DEVICE;
        ExeResponse r = FirstStageExecutor.ExecuteFirstStageDownloadIF(config);
        json.put("result", r.iManagerError);
        json.put("text", Results.firstStageText(r.iManagerError));
        json.put("deviceError", r.iDeviceError);
        progress.finish();
        text("first stage: result " + r.iManagerError + " (" + Results.firstStageText(r.iManagerError)
             + "), device result " + r.iDeviceError);
        return Results.firstStageStatus(r.iManagerError);
    }

    private void report(ExeResponse r) {
        json.put("result", r.iManagerError);
        json.put("text", Results.downloadText(r.iManagerError));
        json.put("deviceError", r.iDeviceError);
        json.put("additionalInfo", r.sAdditionalInfo == null ? "" : r.sAdditionalInfo);
        progress.finish();
        String info = r.sAdditionalInfo == null || r.sAdditionalInfo.isEmpty() ? "" : "; " + r.sAdditionalInfo;
        text("download: result " + r.iManagerError + " (" + Results.downloadText(r.iManagerError)
             + "), device error " + r.iDeviceError + info + lineError());
    }

    private String lineError() {
        String e = line == null ? "" : line.lastError();
        return e.isEmpty() ? "" : " (" + e + ")";
    }

    private void text(String s) {
        if (!jsonOutput) out.println(s);
    }

    private static String value(String[] args, int i, String option) {
        if (i >= args.length) throw new IllegalArgumentException(option + " needs a value");
        return args[i];
    }

    private static int number(String text, String option) {
        try {
            return Integer.parseInt(text);
        } catch (NumberFormatException e) {
            throw new IllegalArgumentException(option + " needs a number, not " + text);
        }
    }

    static String toJson(Map<String, Object> map) {
        StringBuilder s = new StringBuilder("{");
        for (Map.Entry<String, Object> e : map.entrySet()) {
            if (s.length() > 1) s.append(", ");
            s.append(quote(e.getKey())).append(": ");
            Object v = e.getValue();
            s.append(v instanceof String ? quote((String) v) : String.valueOf(v));
        }
        return s.append("}").toString();
    }

    private static String quote(String text) {
        StringBuilder s = new StringBuilder("\"");
        for (char c : text.toCharArray()) {
            if (c == '"' || c == '\\') s.append('\\').append(c);
            else if (c < 0x20) s.append(String.format("\\u%04x", (int) c));
            else s.append(c);
        }
        return s.append('"').toString();
    }
}
