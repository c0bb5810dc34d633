package korvotest;

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.atomic.AtomicInteger;

import korvotest.SimulatedDevice.Answer;
import quarnel.firmwaredownload.Configurator;
import quarnel.firmwaredownload.ExeResponse;
import quarnel.firmwaredownload.Executor;
import quarnel.firmwaredownload.FirstStageExecutor;
import quarnel.firmwaredownload.KeyFile;
import quarnel.firmwaredownload.TAVISInterface;

/** The library's exports; connect, login and answer delivery before and after SetupJNI. */
public final class TavisInterfaceTest {
    private static final String NO_PORT = "/nonexistent/korvo-test-port";

    public static void main(String[] args) throws Exception {
        Checks c = new Checks("TavisInterface");
        exports(c);
        TAVISInterface tavis = new TAVISInterface();
        SimulatedDevice device = new SimulatedDevice(tavis);
        TAVISInterface.setDeviceLine(device);
        beforeSetup(c, tavis, device);
        tavis.SetupJNI("Keta A", "19200", NO_PORT);

        identification(c, tavis, device);
        login(c, tavis, device);
        lateAndEmptyAnswers(c, tavis, device);
        otherThreadAndExceptions(c, tavis, device);
        ketaB(c, tavis, device);
        silentDevice(c, tavis, device);
        downloadsWithoutMembers(c);  // last: it leaves the first-stage mode on
        c.finish();
    }

    static void identification(Checks c, TAVISInterface tavis, SimulatedDevice device) {
        device.answerTo("DeviceIdent", "RA", " 9 SCANNER42");
        c.equal("SCANNER42", tavis.ConnectDeviceIF(), "Keta A identification");
        List<SimulatedDevice.Command> sent = device.commands();
        c.equal(1, sent.size(), "one command for a connect");
        c.equal("RN", sent.get(0).type(), "identification is a variable read");
        c.equal("DeviceIdent", sent.get(0).name(), "variable name");

        device.answerTo("DeviceIdent", "RA", " A No Program");
        c.equal("No Program", tavis.ConnectDeviceIF(), "a device without application");
        c.equal(0, device.cleanUps(), "a non-empty answer keeps the Java line");
    }

    static void login(Checks c, TAVISInterface tavis, SimulatedDevice device) {
        device.clearCommands();
        device.answerTo("SetAccessMode", "AN", " 1");
        c.equal(0, tavis.LoginDeviceIF("3", "secret"), "login granted");
        List<SimulatedDevice.Command> sent = device.commands();
        c.equal(1, sent.size(), "one command for a login");
        c.equal("MN", sent.get(0).type(), "login is a method call");
        c.equal("SetAccessMode", sent.get(0).name(), "login method");
        c.equal(" 3 secret", sent.get(0).parameterText(), "login parameters verbatim");

        byte[] long1598 = new byte[1598];
        Arrays.fill(long1598, (byte) 'x');
        long1598[0] = ' ';
        long1598[1] = '1';
        Object[][] cases = {
            {0, Answer.of("AN", "SetAccessMode", " 01"), "login granted as 01"},
            {-1, Answer.of("AN", "SetAccessMode", " 0"), "login denied"},
            {-1, new Answer("AN", "SetAccessMode", new byte[1599]), "a 1599-byte answer is refused"},
            {0, new Answer("AN", "SetAccessMode", long1598), "a 1598-byte answer is taken"},
        };
        for (Object[] k : cases) {
            device.respond(cmd -> (Answer) k[1]);
            c.equal(k[0], tavis.LoginDeviceIF("4", "pw"), (String) k[2]);
        }
    }

    static void lateAndEmptyAnswers(Checks c, TAVISInterface tavis, SimulatedDevice device)
            throws InterruptedException {
        // An answer nobody waits for is taken by the next command, which
        // fails at once (the device stays silent, so no fresh answer races).
        tavis.ReceiveBytes("RA", "DeviceIdent", " 3 OLD".getBytes());
        device.respond(cmd -> null);
        long start = System.nanoTime();
        c.equal(-1, tavis.LoginDeviceIF("3", "secret"), "a late answer fails the next command");
        c.check(System.nanoTime() - start < 10_000_000_000L, "the late answer ends the wait");
        device.answerTo("SetAccessMode", "AN", " 1");

        // Null strings and arrays are an empty answer; the waiting command
        // waits on for the real one.
        tavis.ReceiveBytes(null, null, null);
        c.equal(0, tavis.LoginDeviceIF("3", "secret"), "an empty answer is waited past");
        tavis.ReceiveBytes("AN", "SetAccessMode", new byte[0]);
        c.equal(0, tavis.LoginDeviceIF("3", "secret"), "an empty array is waited past");
    }

    static void otherThreadAndExceptions(Checks c, TAVISInterface tavis, SimulatedDevice device)
            throws InterruptedException {
        device.answerTo("SetAccessMode", "AN", " 1");
        AtomicInteger fromOtherThread = new AtomicInteger(99);
        Thread t = new Thread(() -> fromOtherThread.set(tavis.LoginDeviceIF("3", "secret")));
        t.start();
        t.join();
        c.equal(0, fromOtherThread.get(), "a login from another Java thread");

        // A callback's exception must not reach the caller (it would end the run).
        device.throwAfterNextSend(new IllegalStateException("line broken"));
        c.equal(0, tavis.LoginDeviceIF("3", "secret"), "the answer counts after a throwing send");
    }

    static void ketaB(Checks c, TAVISInterface tavis, SimulatedDevice device) {
        tavis.SetupJNI("Keta B", "19200", NO_PORT);
        device.answerTo("SetAccessMode", "AN", " 1");
        c.equal(-1, tavis.LoginDeviceIF("3", "secret"), "login never granted under Keta B");
        tavis.SetupJNI("keta B", "19200", NO_PORT);
        c.equal(0, tavis.LoginDeviceIF("3", "secret"), "another letter case selects Keta A");

        // Keta B gives no identification text: the library hands the line
        // over and finds no COM port either.
        tavis.SetupJNI("Keta B", "19200", NO_PORT);
        device.answerTo("DeviceIdent", "RA", " 5 HELLO");
        device.throwOnCleanUp(new IllegalStateException("clean-up failed"));
        int before = device.cleanUps();
        // A throwing CleanUpInterface is cleared (it would end the run).
        c.equal("", tavis.ConnectDeviceIF(), "no identification under Keta B");
        device.throwOnCleanUp(null);
        c.equal(before + 1, device.cleanUps(), "CleanUpInterface once before the COM port");
    }

    static void silentDevice(Checks c, TAVISInterface tavis, SimulatedDevice device) {
        tavis.SetupJNI("Keta A", "19200", NO_PORT);
        device.respond(cmd -> null);
        int before = device.cleanUps();
        long start = System.nanoTime();
        String ident = tavis.ConnectDeviceIF();
        long ms = (System.nanoTime() - start) / 1_000_000;
        c.equal("", ident, "a silent device gives no identification");
        c.check(ms >= 4900, "the identification waits its time-out (" + ms + " ms)");
        c.equal(before + 1, device.cleanUps(), "silence hands the line over");
    }

    static Set<String> definedSymbols() throws Exception {
        File library = new File(System.getProperty("java.library.path"), "libKorvo.so");
        Process nm = new ProcessBuilder("nm", "-D", "--defined-only", library.getPath())
                .redirectErrorStream(true).start();
        Set<String> names = new HashSet<>();
        try (BufferedReader r = new BufferedReader(new InputStreamReader(nm.getInputStream()))) {
            for (String line; (line = r.readLine()) != null; ) {
                String[] parts = line.trim().split("\\s+");
                if (parts.length == 3 && parts[1].equals("T")) names.add(parts[2]);
            }
        }
        nm.waitFor();
        return names;
    }

    static void exports(Checks c) throws Exception {
        Set<String> symbols = definedSymbols();
        Class<?>[] classes = {TAVISInterface.class, Executor.class, FirstStageExecutor.class,
                              Configurator.class, KeyFile.class};
        for (Class<?> cls : classes) {
            for (Method m : cls.getDeclaredMethods()) {
                if (!Modifier.isNative(m.getModifiers())) continue;
                String name = "Java_quarnel_firmwaredownload_" + cls.getSimpleName() + "_"
                        + m.getName();
                c.check(symbols.contains(name), "exported: " + name);
            }
        }
        for (String plain : new String[] {"CreateConfigFile", "ExecuteDownload",
                                          "ExecuteFirstStageDownload"}) {
            c.check(symbols.contains(plain), "exported: " + plain);
        }
    }

    static void beforeSetup(Checks c, TAVISInterface tavis, SimulatedDevice device) {
        device.answerTo("DeviceIdent", "RA", " 5 HELLO");

        // No channel yet: the answer is dropped.
        tavis.ReceiveBytes("RA", "DeviceIdent", " 5 HELLO".getBytes());
        // Unbound, the channel cannot send: its wait runs into the time-out.
        c.equal("", tavis.ConnectDeviceIF(), "connect before SetupJNI");
        c.equal(0, device.commands().size(), "nothing reaches the front end before SetupJNI");
        c.equal(0, device.cleanUps(), "no hand-over of the line before SetupJNI");
    }

    static void downloadsWithoutMembers(Checks c) {
        // A missing result object ends the run with a NullPointerException.
        ExeResponse r = new Executor().ExecuteDownloadIF("/nonexistent/cfg", "/nonexistent/key",
                                                         -1, -1);
        c.check(r.iManagerError < 0, "a failed download reports an error");
        c.equal(-1, r.iDeviceError, "no device was handled");
        c.equal(null, r.sAdditionalInfo, "no additional information");
        c.equal(false, r.bOnlyAppDownloaded, "not only the application");
        c.equal(0, r.iDeviceWhichWasUploaded, "uploaded device keeps its default");
        ExeResponse f = FirstStageExecutor.ExecuteFirstStageDownloadIF("/nonexistent/cfg");
        c.equal(-91, f.iManagerError, "first stage: no configuration");
        c.equal(-1, f.iDeviceError, "first stage: no device was handled");
    }
}
