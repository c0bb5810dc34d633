package download;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.zip.CRC32;

import korvotest.Checks;
import korvotest.SimulatedDevice;
import korvotest.SimulatedDevice.Answer;
import korvotest.SimulatedDevice.Command;
import quarnel.firmwaredownload.Configurator;
import quarnel.firmwaredownload.ExeResponse;
import quarnel.firmwaredownload.Executor;
import quarnel.firmwaredownload.FirstStageExecutor;
import quarnel.firmwaredownload.KeyFile;
import quarnel.firmwaredownload.TAVISInterface;
import quarnel.frontend.Json;

/** Whole downloads through the real library; a simulated device answers through ReceiveBytes. */
public final class DownloadTest {
    static final Checks c = new Checks("Download");
    static final TAVISInterface tavis = new TAVISInterface();
    static final SimulatedDevice device = new SimulatedDevice(tavis);
    static final Map<String, String> answers = new HashMap<>();
    static Path work;
    static String key;

    static final String SYSTEM = system("2.3", "true", "K");
    static final String APP = device("App", "APP", "true", "SRECToBrekXML", "fw.s19",
        "<FirmwareVersion transparent=\"true\">1.0</FirmwareVersion><Log>app log</Log>");
    static final String PARAM = device("Param", "PARAM", "false", "File", "param.bin", "");

    public static void main(String[] args) throws Exception {
        prepare("download-test-work", false);
        TAVISInterface.setDeviceLine(device);
        tavis.SetupJNI("Keta A", "9600", "/nonexistent/korvo-port");
        device.respond(DownloadTest::answer);

        twoDevices();
        selections();
        systemEntries();
        reports();
        partTransfers();
        applicationMode();
        bootLoader();
        serialParts();
        example();
        firstStage();  // last: answers go to the first stage until the next download
        firstStageReport();
        c.noneLeft(Paths.get("."), "~.*");
        c.finish();
    }

    // The device: every command answered "AN 0" unless `answers` says otherwise
    // (a null entry keeps the device silent).
    static Answer answer(Command cmd) {
        return reply(cmd, answers.containsKey(cmd.name()) ? answers.get(cmd.name()) : defaults(cmd.name()));
    }

    // "KIND text" as the answer to `cmd`; null: none.
    static Answer reply(Command cmd, String reply) {
        return reply == null ? null : Answer.of(reply.substring(0, 2), cmd.name(), reply.substring(2));
    }

    static String defaults(String name) {
        switch (name) {
            case "DeviceIdent": return "RA 9 SCANNER42";
            case "MStrace": return "EA 0";
            case "GetAccessMode": return "AN 3";
            case "mFDsrt2ndstgldr": return "AN 7";
            case "mFDstadwnld": return "AN 64";
            case "mSCsoftreset": return null;  // a rebooting device does not answer
            default: return "AN 0";
        }
    }

    static void twoDevices() throws Exception {
        String cfg = config("two", SYSTEM, APP, PARAM);
        c.equal("0 0", result(run(cfg, -1, -1)), "two devices downloaded");
        List<Command> sent = device.commands();
        c.equal("MStrace GetAccessMode mFDsrt2ndstgldr mFDlogwrite*5 mFDprgcfgdata*4"
                + " mFDprgdata*2 mFDexedwnld mFDstadwnld mFDprgdata*2 mFDexedwnld mFDstadwnld"
                + " mFDprgdata mFDexedwnld mFDstadwnld mFDprgdata mFDexedwnld mFDstadwnld mFDfindwnld"
                + " mFDlogwrite mFDprgcfgdata*2 mFDprgdata*4 mFDexedwnld mFDstadwnld mFDfindwnld"
                + " mFDlogwrite mFDfindwnld mSCsoftreset", names(sent), "command sequence");
        List<String> log = texts(sent, "mFDlogwrite");
        c.check(log.get(0).matches(" 7 2E Download started at :\\w{3} \\w{3} \\d\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n"),
                "first log line: " + log.get(0));
        c.equal(" 7 15 Current user level :3| 7 15 Updating device : App", log.get(1) + "|" + log.get(4),
                "log lines");
        c.equal("[ 7 1 D ADDRESS_RANGE 11 00001000-00008064,  7 1 13 PROGRAM_MEMORY_SIZE 5 65536,"
                + "  7 1 9 DATA_TYPE 4 BREK,  7 1 F FirmwareVersion 3 1.0,  7 2 13 PROGRAM_MEMORY_SIZE 4 3004,"
                + "  7 2 9 DATA_TYPE 4 FILE]", texts(sent, "mFDprgcfgdata").toString(), "transparent entries");
        c.equal("[ 1] [ 7 1,  7 2,  7 0] [ 0]", texts(sent, "mFDsrt2ndstgldr") + " " + texts(sent, "mFDfindwnld")
                + " " + texts(sent, "mSCsoftreset"), "second loader, devices and download finished, reboot");

        // Device 1 holds the block stream part by part; device 2 the Base64 text whole.
        List<byte[]> parts = partsOf(sent, 1);
        c.equal("[1034, 977, 110, 10]", parts.stream().map(p -> p.length).toList().toString(),
                "BREK parts of a 2000-byte and a 100-byte block");
        c.equal("01 00 00 07 d0 00 00 10 00", hex(parts.get(0), 9), "first block header");
        byte[] file = partsOf(sent, 2).get(0);
        byte[] param = Files.readAllBytes(work.resolve("param.bin"));
        CRC32 crc = new CRC32();
        crc.update(param);
        c.equal(String.format("%08x", crc.getValue()), hex(file, 4).replace(" ", ""), "FILE CRC-32");
        c.check(Arrays.equals(param, Arrays.copyOfRange(file, 4, file.length)), "FILE data arrived whole");

        List<String> statuses = new ArrayList<>();
        for (String s : device.statuses()) {
            if (statuses.isEmpty() || !statuses.get(statuses.size() - 1).equals(s)) statuses.add(s);
        }
        c.equal("[Download of " + cfg + " started ...|0, Checking rights ...|-1, Executing download ...|-1,"
                + " Erasing flash ...|-1, Downloading and storing package 1 of 2|-1, Downloading package 2 of 2|0,"
                + " Downloading package 2 of 2|25, Downloading package 2 of 2|50,"
                + " Downloading package 2 of 2|75, Storing package 2 of 2|100, Download finished ...|100]",
                statuses.toString(), "status texts and values");
    }

    static void selections() throws Exception {
        String cfg = config("two", SYSTEM, APP, PARAM);
        run(cfg, 0, -1);
        c.equal("false true", loaded(1) + " " + loaded(2), "skip device 0");
        run(cfg, 0, 0);
        c.equal("true false", loaded(1) + " " + loaded(2), "only device 0 wins over skip");

        String match = constraint("SCANNER.*"), other = constraint("OTHER.*");
        ExeResponse r = run(config("c1", SYSTEM, APP.replace("<Log>", match + "<Log>"),
                                   PARAM.replace("<Name>", other + "<Name>")), -1, -1);
        c.equal("0 0 true false", result(r) + " " + loaded(1) + " " + loaded(2),
                "a device excluded by its constraint");
        r = run(config("c2", SYSTEM, APP.replace("<Log>", other + "<Log>"),
                       PARAM.replace("<Name>", other + "<Name>")), -1, -1);
        c.equal(0, r.iManagerError, "all devices excluded still succeeds");
        c.equal("MStrace GetAccessMode DeviceIdent*2 mFDsrt2ndstgldr mFDlogwrite*4 mFDfindwnld"
                + " mSCsoftreset", names(device.commands()), "nothing loaded, finished and rebooted");

        answers.put("GetAccessMode", "AN 4");
        c.equal(-4, run(work.resolve("c2.cfg").toString(), -1, -1).iManagerError, "access denied");
        c.equal("MStrace GetAccessMode DeviceIdent*2", names(device.commands()),
                "constraints read, no second loader, no reboot");
        answers.clear();
    }

    // A refused version returns early: the documents must go all the same, or
    // the downloads after it fail. Only TavisDevice "false" hands the line over.
    static void systemEntries() throws Exception {
        String[][] systems = {  // needed version, TavisDevice (null: none), key; results, info or hand-over
            {"2.4", "true", "K", "-98 -1"}, {"23", "true", "K", "-81 -1"}, {"3.0", "true", "K", "-98 -1"},
            {"2.03", "true", "K", "0 0"}, {"2.3", null, "K", "0 0"}, {"2.3", "FALSE", "K", "0 0"},
            {"2.3", "false", "K", "-2 -1 hand-over"},
            {"2.3", "true", "I", "-4 -1 Identification failed: SCANNER42 is not equal to OTHER"},
        };
        for (String[] t : systems) {
            int before = device.cleanUps();
            ExeResponse r = run(config("v", system(t[0], t[1], t[2]), PARAM), -1, -1);
            String info = r.sAdditionalInfo != null ? " " + r.sAdditionalInfo
                          : device.cleanUps() > before ? " hand-over" : "";
            c.equal(t[3], result(r) + info, "version " + t[0] + ", TavisDevice " + t[1] + ", key " + t[2]);
            c.check(device.cleanUps() - before <= 1, "the line handed over at most once");
        }
    }

    static void partTransfers() throws Exception {
        String srec = device("S", "X", "true", "SRECXML", "fw.s19", "");
        c.equal(0, run(config("s", SYSTEM, srec), -1, -1).iManagerError, "S-record lines part by part");
        List<byte[]> lines = partsOf(device.commands(), 1);
        c.equal(54, lines.size(), "one part per line");
        c.check(new String(lines.get(53), StandardCharsets.ISO_8859_1).startsWith("S7"), "S7 line last");
        c.equal(-12, run(config("s9", SYSTEM, srec.replace("fw.s19", "fw9.s19")), -1, -1).iManagerError,
                "S-records without an S7 line");
    }

    // The application is device 1 here, so that the device named for the
    // second call is not the field's default.
    static void applicationMode() throws Exception {
        answers.put("DeviceIdent", "RA A No Program");
        c.equal("No Program", tavis.ConnectDeviceIF(), "a device without application");
        String cfg = config("pa", SYSTEM, PARAM, APP);
        c.equal("0 0 true 1", result(run(cfg, -1, -1)), "application part downloaded, the rest must follow");
        c.equal("GetAccessMode mFDprgcfgdata mFDprgdata*2 mFDexedwnld mFDstadwnld mFDprgdata*2 mFDexedwnld"
                + " mFDstadwnld mFDprgdata mFDexedwnld mFDstadwnld mFDprgdata mFDexedwnld mFDstadwnld mFDfindwnld*2"
                + " mSCsoftreset", names(device.commands()),
                "no trace, loader, log or entries but the address range without application");
        c.equal("-1 -1", result(run(cfg, 1, -1)), "the APP device skipped");
        String kept = APP.replace("<Log>", constraint("SCANNER.*") + "<Log>");
        ExeResponse r = run(config("c3", SYSTEM, PARAM, kept), -1, -1);
        c.equal("0 0", result(r), "an APP device kept out is not reported loaded");
        answers.clear();
        c.equal("SCANNER42", tavis.ConnectDeviceIF(), "reconnected");
        c.equal(0, run(cfg, 1, -1).iManagerError, "second call for the rest");
    }

    // "BREKBIN" over the serial channel: rights read with telegrams, then the
    // boot loader moves the data to korvo-sim on a pseudo-terminal.
    static void bootLoader() throws Exception {
        Path image = work.resolve("image.bin");
        FrontEndTest.build = Paths.get(System.getProperty("korvo.tool")).getParent();
        FrontEndTest.Simulator sim = new FrontEndTest.Simulator("--image;" + image + ";--exit-after-download");
        tavis.SetupJNI("Keta A", "", sim.pty);
        String cfg = config("b", system("2.3", "false", "K"),
                            device("B", "APP", "true", "SRECToBrekBinXML", "fw.s19", ""));
        c.equal(0, run(cfg, -1, -1).iManagerError, "boot-loader download");
        c.check(sim.process.waitFor(10, java.util.concurrent.TimeUnit.SECONDS), "the device took the image");
        sim.stop();
        byte[] got = Files.exists(image) ? Files.readAllBytes(image) : new byte[0];
        c.equal(2011 + 110 + 10, got.length, "two blocks (a check byte per 1024 data bytes) and the closing block");
        c.equal("01 00 00 07 d0 00 00 10 00", hex(got, 9), "first block header");
        c.check(device.statuses().stream().anyMatch(s -> s.endsWith("|100") && !s.startsWith("Download")),
                "boot-loader progress reached UpdateStatus: " + device.statuses());
        tavis.SetupJNI("Keta A", "9600", "/nonexistent/korvo-port");
    }

    // The example project as tests/data/example_download.txt says: the
    // Windows JNI host holds Korvo.dll to the same lines.
    static void example() throws Exception {
        Path source = Paths.get(System.getProperty("korvo.source"));
        Map<String, String> table = new HashMap<>(), expected = new HashMap<>();
        for (String line : Files.readAllLines(source.resolve("tests/data/example_download.txt"))) {
            String[] f = line.split(" ", 4);
            if (f[0].equals("answer")) table.put(f[1], f[2] + " " + f[3]);
            else if (f[0].equals("silent")) table.put(f[1], null);
            else if (f.length > 1 && !f[0].startsWith("#")) expected.put(f[0], line.substring(f[0].length() + 1));
        }
        Path dir = work.resolve("example");
        Files.createDirectories(dir);
        for (String name : new String[] {"project.xml", "firmware.s19", "parameters.bin", "keys.xml"}) {
            Files.copy(source.resolve("examples").resolve(name), dir.resolve(name), StandardCopyOption.REPLACE_EXISTING);
        }
        String cfg = dir.resolve("example.cfg").toString(), keys = dir.resolve("keys.key").toString();
        c.equal(0, new Configurator().CreateConfigFileIF(dir.resolve("project.xml").toString())
                   | new KeyFile().CompressIF(dir.resolve("keys.xml").toString(), keys), "example built");

        device.respond(cmd -> reply(cmd, table.containsKey(cmd.name()) ? table.get(cmd.name()) : "AN 0"));
        device.clearCommands();
        c.equal("EXAMPLE-SCANNER-01 V1.0", tavis.ConnectDeviceIF(), "example: connect");
        c.equal(0, tavis.LoginDeviceIF("4", "service"), "example: login");
        c.equal("0 0", result(new Executor().ExecuteDownloadIF(cfg, keys, -1, -1)), "example: download");
        c.equal(expected.get("download"), record(device.commands()), "example: the download's commands");
        device.clearCommands();
        c.equal("0 0", result(FirstStageExecutor.ExecuteFirstStageDownloadIF(cfg)), "example: first stage");
        c.equal(expected.get("first-stage"), record(device.commands()), "example: the first stage's commands");
        // Its answers no longer go to the first stage: the device reboots and is reached again.
        c.equal("EXAMPLE-SCANNER-01 V1.0", tavis.ConnectDeviceIF(), "example: a connect after the first stage");
        c.equal(0, tavis.LoginDeviceIF("4", "service"), "example: a login after the first stage");
        device.respond(DownloadTest::answer);
    }

    // The names (runs collapsed) and the CRC-32 of every command but the log lines.
    static String record(List<Command> sent) {
        CRC32 crc = new CRC32();
        for (Command cmd : sent) {
            if (cmd.name().equals("mFDlogwrite")) continue;
            crc.update((cmd.type() + " " + cmd.name() + "\n").getBytes(StandardCharsets.ISO_8859_1));
            if (cmd.parameters() != null) crc.update(cmd.parameters());
            crc.update('\n');
        }
        return names(sent) + String.format(" crc %08X", crc.getValue());
    }

    static void firstStage() throws Exception {
        String app = config("two", SYSTEM, APP, PARAM);
        String[][] cases = {  // configuration, device answer to the address range, result, out result,
                              // the step the report says failed
            {app, "AN 0", "0 0", ""},
            {config("p", SYSTEM, PARAM), "AN 0", "-140 -1", "devices"},
            {app, "AN 5", "-143 5", "address range"},
            {config("f", SYSTEM, device("F", "APP", "false", "File", "abc.bin",  // no byte 1, nor in its CRC
                                        "<ADDRESS_RANGE>0-3</ADDRESS_RANGE>")), "AN 0", "-12 -1", "transfer"},
            {work.resolve("missing.cfg").toString(), "AN 0", "-91 -1", "configuration"},
            // Not one byte of damaged data goes out.
            {damaged(app, "damaged-app", 0, 2000, 3), "AN 0", "-12 -1", "data"},
        };
        for (String[] t : cases) {
            answers.put("mFDprgcfgdata", t[1]);
            device.clearCommands();
            String what = "first stage " + t[0].substring(t[0].lastIndexOf('/') + 1) + " " + t[1];
            c.equal(t[2], result(FirstStageExecutor.ExecuteFirstStageDownloadIF(t[0])), what);
            c.equal(t[3], Json.text(lastReport(), "failedStep"), what + ": the failed step");
            c.equal(!t[2].startsWith("-91"), names(device.commands()).endsWith("mFDabrtdwnld"),
                    what + ": aborted after every open");
            if (t[0].contains("damaged")) {
                c.equal("MStrace mFDabrtdwnld", names(device.commands()), what + ": nothing sent");
                c.check(Executor.GetLastReportIF().contains("\"damaged\": \"check byte wrong at byte 2010 in the block at 00001000"),
                        what + ": the report says why: " + Executor.GetLastReportIF());
            }
        }
        answers.clear();
        device.clearCommands();
        FirstStageExecutor.ExecuteFirstStageDownloadIF(app);
        List<Command> sent = device.commands();
        c.equal("MStrace mFDprgcfgdata mFDprgdata*2 mFDexedwnld mFDprgdata mFDexedwnld mFDprgdata"
                + " mFDexedwnld mFDprgdata mFDexedwnld mFDfindwnld mFDabrtdwnld", names(sent),
                "first-stage command sequence");
        c.equal("[1024, 10, 977, 110, 10]", sent.stream().filter(cmd -> cmd.name().equals("mFDprgdata"))
                .map(cmd -> payload(cmd).length).toList().toString(), "a 2000-byte block in pieces");
        c.equal("[ 0 1 D ADDRESS_RANGE 11 00001000-00008064] [ 0 1] [ 0 0]", texts(sent, "mFDprgcfgdata") + " "
                + texts(sent, "mFDfindwnld") + " " + texts(sent, "mFDabrtdwnld"), "a = 0, b = 1; abort with 0 0");
    }

    // The report beside the result: what each device got and why, what the
    // device answered, and a dry run that writes nothing.
    static void reports() throws Exception {
        String cfg = work.resolve("c1.cfg").toString();  // device 2 wants another device
        run(cfg, -1, -1);
        Map<String, Object> r = lastReport();
        List<Object> devices = Json.list(r.get("devices"));
        Map<String, Object> d1 = Json.object(devices.get(0)), d2 = Json.object(devices.get(1));
        Map<String, Object> c2 = Json.object(Json.list(d2.get("constraints")).get(0));
        c.equal("download 1 written 1 skipped constraints SCANNER42 OTHER.* false",
                Json.text(r, "operation") + " " + Json.text(r, "written") + " " + Json.text(d1, "outcome") + " "
                + Json.text(d1, "number") + " " + Json.text(d2, "outcome") + " " + Json.text(d2, "reason") + " "
                + Json.text(c2, "read") + " " + Json.text(c2, "expected") + " " + Json.text(c2, "holds"),
                "report of a download with a device kept out: " + r);
        c.check(Json.number(d1, "bytes", 0) > 2000 && Json.number(d1, "packages", 0) == 6,
                "bytes and packages device 1 took: " + d1);

        answers.put("mFDprgdata", "FA 7");
        c.equal("-12 -1", result(run(config("p", SYSTEM, PARAM), -1, -1)), "an error answer keeps device error -1");
        c.check(names(device.commands()).endsWith("mFDprgdata mFDlogwrite mFDabrtdwnld mSCsoftreset"),
                "error logged, aborted and rebooted: " + names(device.commands()));
        Map<String, Object> answer = Json.object(lastReport().get("deviceAnswer"));
        c.equal("device update mFDprgdata error 7", Json.text(lastReport(), "failedStep") + " "
                + Json.text(answer, "command") + " " + Json.text(answer, "answer") + " " + Json.text(answer, "code"),
                "the device's own code is in the report");
        answers.clear();

        String[][] dryRuns = {  // configuration, key, answer to GetAccessMode; result, what the report says
            {cfg, key, "AN 3", "0 1 would be written would be skipped"},
            {cfg, key, "AN 4", "-4 rights level 4 level 3 deny"},
            {config("vi", system("2.3", "true", "I"), PARAM), key, "AN 3", "-4 identification SCANNER42 OTHER false"},
            {config("vv", system("2.5", "true", "K"), PARAM), key, "AN 3", "-98 version 2.5 at most 2.3 false"},
            {work.resolve("none.cfg").toString(), key, "AN 3", "-91 missing"},
            {cfg, work.resolve("keys.xml").toString(), "AN 3", "-128 plain"},
            {cfg, work.resolve("none.key").toString(), "AN 3", "-128 missing"},
        };
        for (String[] t : dryRuns) {
            answers.put("GetAccessMode", t[2]);
            device.clearCommands();
            Map<String, Object> dry = Json.object(Json.parse(new Executor().DryRunDownloadIF(t[0], t[1], -1, -1)));
            c.equal(dry, Json.object(Json.parse(Executor.GetLastReportIF())), "the dry run's report is the last one");
            c.equal(t[3], Json.text(dry, "result") + " " + dryRunSays(dry), "dry run " + t[0] + " " + t[1] + " " + t[2]);
            c.check(!names(device.commands()).matches(".*(mFD|mSC).*"), "nothing written: " + names(device.commands()));
        }
        answers.clear();

        c.check(!Executor.GetResultTextIF("download", -1).equals(Executor.GetResultTextIF("first stage", -1))
                && Executor.GetResultTextIF("build", -48).contains("S-record")
                && Executor.GetResultTextIF("download", -150).contains("boot loader")
                && Executor.GetResultTextIF("download", 12345).equals("unknown result code"),
                "result texts by operation");

        Files.writeString(work.resolve("cut.s19"), "S00600004844521B\r\nS1130000");
        Files.writeString(work.resolve("cut.xml"), "<download_project><FirmwarePackageFilename>cut.cfg"
            + "</FirmwarePackageFilename><System2>" + SYSTEM + "</System2>"
            + device("C", "APP", "false", "SRECToBrekXML", "cut.s19", "") + "</download_project>");
        int rc = new Configurator().CreateConfigFileIF(work.resolve("cut.xml").toString());
        Map<String, Object> build = lastReport();
        String diagnostic = Json.text(Json.object(build.get("build")), "diagnostic");
        Map<String, Object> at = Json.object(Json.object(build.get("build")).get("failedAt"));
        c.check(rc < 0 && Json.text(build, "operation").equals("build") && Json.number(build, "result", 0) == rc
                && diagnostic.contains("cut.s19") && diagnostic.contains("line 2")
                && Json.text(at, "file").endsWith("cut.s19") && Json.number(at, "line", 0) == 2,
                "build report: " + build);
    }

    // The checks a dry-run report names, as "kind read expected passed", and the devices' outcomes.
    static String dryRunSays(Map<String, Object> r) {
        List<String> out = new ArrayList<>();
        for (Object f : Json.list(r.get("files"))) {
            String state = Json.text(Json.object(f), "state");
            if (!state.equals("compressed")) out.add(state);
        }
        for (Object o : Json.list(r.get("checks"))) {
            Map<String, Object> check = Json.object(o);
            if (Json.flag(check, "passed") || Json.text(check, "check").equals("access")) continue;
            out.add(Json.text(check, "check") + " " + Json.text(check, "read") + " " + Json.text(check, "expected")
                    + " " + (Json.text(check, "note").isEmpty() ? "false" : Json.text(check, "note")));
        }
        if (Json.number(r, "result", -1) == 0) {
            out.add(Json.text(r, "wouldWrite"));
            for (Object d : Json.list(r.get("devices"))) out.add(Json.text(Json.object(d), "outcome"));
        }
        return String.join(" ", out);
    }

    static Map<String, Object> lastReport() { return Json.object(Json.parse(Executor.GetLastReportIF())); }

    // Over the serial channel only BREKBIN data reach a device (through the
    // boot loader): data sent part by part must fail, not report success.
    static void serialParts() throws Exception {
        FrontEndTest.Simulator sim = new FrontEndTest.Simulator("");
        tavis.SetupJNI("Keta A", "", sim.pty);
        for (String conversion : new String[] {"SRECToBrekXML", "SRECXML"}) {
            String cfg = config("sp", system("2.3", "false", "K"), device("B", "X", "true", conversion, "fw.s19", ""));
            c.equal("-12 -1", result(run(cfg, -1, -1)), conversion + " part by part over the serial line");
            Map<String, Object> d = Json.object(Json.list(lastReport().get("devices")).get(0));
            c.equal("serial failed part by part 0", Json.text(lastReport(), "channel") + " " + Json.text(d, "outcome")
                    + " " + Json.text(d, "transfer") + " " + Json.text(d, "bytes"), conversion + " report");
        }
        c.check(!sim.stop().contains("payload"), "no program data reached the device");
        tavis.SetupJNI("Keta A", "9600", "/nonexistent/korvo-port");
    }

    static void firstStageReport() throws Exception {
        String app = work.resolve("two.cfg").toString();
        answers.clear();
        FirstStageExecutor.ExecuteFirstStageDownloadIF(app);
        Map<String, Object> r = lastReport(), stage = Json.object(r.get("firstStage"));
        c.equal("first stage 0 1 00001000-00008064 4 5 2131", Json.text(r, "operation") + " " + Json.text(r, "result")
                + " " + Json.text(Json.object(stage.get("device")), "number") + " " + Json.text(stage, "addressRange")
                + " " + Json.text(stage, "parts") + " " + Json.text(stage, "packages") + " " + Json.text(stage, "bytes"),
                "first-stage report: " + r);
    }

    // --- helpers ---

    // The work folder (emptied first when `fresh`) with the data files and key; the two-device configuration.
    static String prepare(String folder, boolean fresh) throws Exception {
        work = Paths.get(folder).toAbsolutePath();
        if (fresh) Checks.removeTree(work);
        Files.createDirectories(work);
        writeData();
        key = keyFile();
        return config("two", SYSTEM, APP, PARAM);
    }

    static ExeResponse run(String cfg, int skip, int only) {
        device.clearCommands();
        return new Executor().ExecuteDownloadIF(cfg, key, skip, only);
    }

    // "result device-result", and what the library told the second call when it did.
    static String result(ExeResponse r) {
        boolean named = r.bOnlyAppDownloaded || r.iDeviceWhichWasUploaded != 0;
        return r.iManagerError + " " + r.iDeviceError
            + (named ? " " + r.bOnlyAppDownloaded + " " + r.iDeviceWhichWasUploaded : "");
    }

    static String system(String version, String tavisDevice, String key) {
        return (tavisDevice == null ? "" : "<TavisDevice>" + tavisDevice + "</TavisDevice>")
            + "<NeededDownloaderVersion>" + version + "</NeededDownloaderVersion><Logging>true</Logging>"
            + "<Key>" + key + "</Key>";
    }

    static String device(String name, String type, String partial, String conversion, String data,
                         String extra) {
        return "<Device><Configuration><Name>" + name + "</Name><DEVICE_TYPE>" + type + "</DEVICE_TYPE>"
            + "<PARTIAL_DOWNLOAD>" + partial + "</PARTIAL_DOWNLOAD>" + extra + "</Configuration>"
            + "<Conversion><ConversionType>" + conversion + "</ConversionType><DataFilename>" + data
            + "</DataFilename><PartialMemorySize>65536</PartialMemorySize></Conversion></Device>";
    }

    static String constraint(String pattern) {
        return "<DOWNLOAD_CONSTRAINT communicationName=\"DeviceIdent\" type=\"variable\""
            + " datatype=\"string\" operator=\"=\" comparison=\"" + pattern + "\" index=\"0\" strlen=\"0\"/>";
    }

    static String config(String name, String system, String... devices) throws Exception {
        Path project = work.resolve(name + ".xml");
        Files.writeString(project, "<download_project><FirmwarePackageFilename>" + name
            + ".cfg</FirmwarePackageFilename><System2>" + system + "</System2>"
            + String.join("", devices) + "</download_project>");
        c.equal(0, new Configurator().CreateConfigFileIF(project.toString()), "build " + name);
        return work.resolve(name + ".cfg").toString();
    }

    // `cfg` as `name`.cfg with bit `bit` of byte `at` of device `index`'s data flipped: damage
    // only the payload's own check bytes or CRC-32 can tell.
    static String damaged(String cfg, String name, int index, int at, int bit) throws Exception {
        KeyFile files = new KeyFile();
        Path plain = work.resolve(name + ".xml"), packed = work.resolve(name + ".cfg");
        c.equal(0, files.DeCompressIF(cfg, plain.toString()), "decompress " + cfg);
        String xml = Files.readString(plain, StandardCharsets.UTF_8);
        int data = xml.indexOf("<Data>"), from = data;
        for (int i = 0; i <= index; i++) from = xml.indexOf("<Device>", from) + "<Device>".length();
        int to = xml.indexOf("</Device>", from);
        byte[] bytes = Base64.getMimeDecoder().decode(xml.substring(from, to));
        bytes[at] ^= (byte) (1 << bit);
        String text = Base64.getMimeEncoder(60, new byte[] {'\n'}).encodeToString(bytes) + "\n";
        Files.writeString(plain, xml.substring(0, from) + text + xml.substring(to), StandardCharsets.UTF_8);
        c.equal(0, files.CompressIF(plain.toString(), packed.toString()), "compress " + name);
        Files.delete(plain);
        return packed.toString();
    }

    // Key "K" grants level 3 and denies 4; key "I" is for another device.
    static String keyFile() {
        KeyFile keys = new KeyFile();
        String plain = work.resolve("keys.xml").toString(), packed = work.resolve("keys.key").toString();
        c.equal(0, keys.OpenKeyDocumentIF(plain)
                   | keys.AddKeyDeviceIF() | keys.SetDeviceKeyIF(0, "K") | keys.AddKeySignatureIF(0)
                   | keys.SetKeySignatureAttributesIF(0, 0, ".*", "")
                   | keys.SetKeyUserAccessIF(0, 0, 3, 0) | keys.SetKeyUserAccessIF(0, 0, 4, 1)
                   | keys.AddKeyDeviceIF() | keys.SetDeviceKeyIF(1, "I")
                   | keys.AddKeyIdentficationRuleIF(1, 1, "DeviceIdent", "OTHER", 0)
                   | keys.CloseKeyDocumentIF(true) | keys.CompressIF(plain, packed), "key file");
        return packed;
    }

    // fw.s19: 2000 bytes at 0x1000 and 100 at 0x8000 in S3 records, S7 end;
    // fw9.s19: the same data in S1 records with an S9 end.
    static void writeData() throws Exception {
        StringBuilder s3 = new StringBuilder(), s1 = new StringBuilder();
        for (int[] block : new int[][] {{0x1000, 2000}, {0x8000, 100}}) {
            for (int at = 0; at < block[1]; at += 40) {
                byte[] data = new byte[Math.min(40, block[1] - at)];
                for (int i = 0; i < data.length; i++) data[i] = (byte) (at + i);
                s3.append(record('3', block[0] + at, 4, data));
                s1.append(record('1', block[0] + at, 2, data));
            }
        }
        Files.writeString(work.resolve("fw.s19"), s3 + record('7', 0, 4, new byte[0]));
        Files.writeString(work.resolve("fw9.s19"), s1 + record('9', 0, 2, new byte[0]));
        byte[] param = new byte[3000];
        for (int i = 0; i < param.length; i++) param[i] = (byte) (i * 7);
        Files.write(work.resolve("param.bin"), param);
        Files.writeString(work.resolve("abc.bin"), "ABC");
    }

    static String record(char type, int address, int addressBytes, byte[] data) {
        ByteArrayOutputStream bytes = new ByteArrayOutputStream();
        bytes.write(addressBytes + data.length + 1);
        for (int i = addressBytes - 1; i >= 0; i--) bytes.write(address >>> (8 * i));
        bytes.writeBytes(data);
        int sum = 0;
        for (byte b : bytes.toByteArray()) sum += b & 0xFF;
        bytes.write(~sum);
        StringBuilder line = new StringBuilder("S").append(type);
        for (byte b : bytes.toByteArray()) line.append(String.format("%02X", b & 0xFF));
        return line.append("\r\n").toString();
    }

    // "a b*2 c": command names with runs collapsed.
    static String names(List<Command> sent) {
        List<String> out = new ArrayList<>();
        for (int i = 0; i < sent.size();) {
            int j = i;
            while (j < sent.size() && sent.get(j).name().equals(sent.get(i).name())) j++;
            out.add(sent.get(i).name() + (j - i > 1 ? "*" + (j - i) : ""));
            i = j;
        }
        return String.join(" ", out);
    }

    static List<String> texts(List<Command> sent, String name) {
        return sent.stream().filter(cmd -> cmd.name().equals(name)).map(Command::parameterText).toList();
    }

    // The program bytes of a ProgramData call: after " a b count count ".
    static byte[] payload(Command cmd) {
        byte[] p = cmd.parameters();
        int blanks = 0, i = 0;
        while (i < p.length && blanks < 5) if (p[i++] == ' ') blanks++;
        return Arrays.copyOfRange(p, i, p.length);
    }

    // The parts device n got, one per execute; Base64 decoded unless they are S-record lines.
    static List<byte[]> partsOf(List<Command> sent, int n) {
        List<byte[]> parts = new ArrayList<>();
        ByteArrayOutputStream part = new ByteArrayOutputStream();
        for (Command cmd : sent) {
            String[] numbers = cmd.parameterText() == null ? new String[0] : cmd.parameterText().split(" ", 4);
            boolean data = cmd.name().equals("mFDprgdata") && Integer.parseInt(numbers[2], 16) == n;
            if (data) part.writeBytes(payload(cmd));
            if (!cmd.name().equals("mFDexedwnld") || part.size() == 0) continue;
            String text = part.toString(StandardCharsets.ISO_8859_1);
            parts.add(text.matches("S\\d[0-9A-F]*\\s*") ? part.toByteArray() : Base64.getMimeDecoder().decode(text));
            part.reset();
        }
        return parts;
    }

    static boolean loaded(int n) { return !partsOf(device.commands(), n).isEmpty(); }

    static String hex(byte[] bytes, int count) {
        return java.util.HexFormat.ofDelimiter(" ").formatHex(bytes, 0, Math.min(count, bytes.length));
    }
}
