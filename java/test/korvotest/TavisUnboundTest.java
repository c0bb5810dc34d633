package korvotest;

import java.io.BufferedReader;
import java.io.File;
import java.io.InputStreamReader;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.HashSet;
import java.util.Set;

import quarnel.firmwaredownload.Configurator;
import quarnel.firmwaredownload.ExeResponse;
import quarnel.firmwaredownload.Executor;
import quarnel.firmwaredownload.FirstStageExecutor;
import quarnel.firmwaredownload.KeyFile;
import quarnel.firmwaredownload.TAVISInterface;

/** The library's exports, and its behaviour before the front end is bound. */
public final class TavisUnboundTest {
    public static void main(String[] args) throws Exception {
        Checks c = new Checks("TavisUnbound");
        exports(c);
        beforeSetup(c);
        downloadsWithoutMembers(c);
        c.finish();
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
        int natives = 0;
        for (Class<?> cls : classes) {
            for (Method m : cls.getDeclaredMethods()) {
                if (!Modifier.isNative(m.getModifiers())) continue;
                natives++;
                String name = "Java_quarnel_firmwaredownload_" + cls.getSimpleName() + "_"
                        + m.getName();
                c.check(symbols.contains(name), "exported: " + name);
            }
        }
        c.equal(27, natives, "natives declared");
        for (String plain : new String[] {"CreateConfigFile", "ExecuteDownload",
                                          "ExecuteFirstStageDownload"}) {
            c.check(symbols.contains(plain), "exported: " + plain);
        }
    }

    static void beforeSetup(Checks c) {
        TAVISInterface tavis = new TAVISInterface();
        SimulatedDevice device = new SimulatedDevice(tavis);
        TAVISInterface.setDeviceLine(device);
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
