package korvotest;

import java.util.concurrent.atomic.AtomicBoolean;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.locks.LockSupport;

import quarnel.firmwaredownload.ExeResponse;
import quarnel.firmwaredownload.Executor;
import quarnel.firmwaredownload.TAVISInterface;

/** The library's plain exports; connect, login and answer delivery before and after SetupJNI. */
public final class TavisInterfaceTest {
    private static final String NO_PORT = "/nonexistent/korvo-test-port";

    public static void main(String[] args) throws Exception {
        Checks c = new Checks("TavisInterface");
        // Hosts that do not speak JNI link these; the natives are all called below or in the other programs.
        String library = System.getProperty("java.library.path") + "/libKorvo.so";
        String symbols = c.run(0, "nm", "-D", "--defined-only", library);
        for (String plain : new String[] {"CreateConfigFile", "ExecuteDownload", "ExecuteFirstStageDownload"})
            c.check(symbols.contains(" T " + plain + "\n"), "exported: " + plain);

        TAVISInterface tavis = new TAVISInterface();
        SimulatedDevice device = new SimulatedDevice(tavis);
        TAVISInterface.setDeviceLine(device);
        // Before SetupJNI the library knows no callbacks: an answer finds no command, the connect
        // cannot send and waits for no answer (not even one that comes), nor is the line handed over.
        device.answerTo("DeviceIdent", "RA", " 5 HELLO");
        tavis.ReceiveBytes("RA", "DeviceIdent", " 5 HELLO".getBytes());
        AtomicBoolean connected = new AtomicBoolean();
        Thread answerer = new Thread(() -> {
            while (!connected.get()) {
                tavis.ReceiveBytes("RA", "DeviceIdent", " 5 HELLO".getBytes());
                LockSupport.parkNanos(50_000_000);
            }
        });
        answerer.start();
        c.equal("", tavis.ConnectDeviceIF(), "connect before SetupJNI");
        connected.set(true);
        answerer.join();
        c.equal("0 0", device.commands().size() + " " + device.cleanUps(), "nothing reaches the front end");

        tavis.SetupJNI("Keta A", "19200", NO_PORT);
        device.answerTo("DeviceIdent", "RA", " 9 SCANNER42");
        c.equal("SCANNER42", tavis.ConnectDeviceIF(), "Keta A identification");
        device.answerTo("SetAccessMode", "AN", " 1");
        c.equal(0, tavis.LoginDeviceIF("3", "secret"), "login granted");
        StringBuilder sent = new StringBuilder();
        for (SimulatedDevice.Command cmd : device.commands()) sent.append(cmd.type() + " " + cmd.name() + ":" + cmd.parameterText() + "|");
        c.equal("RN DeviceIdent:null|MN SetAccessMode: 3 secret|", sent.toString(), "a variable read, a method call");
        c.equal(0, device.cleanUps(), "an identification keeps the Java line");
        // An "FA", or an answer of 1599 bytes or more, refuses whatever it holds.
        Object[][] logins = {{"AN", " 0", -1}, {"FA", " 1", -1}, {"AN", " 1" + "x".repeat(1596), 0},
                             {"AN", " 1" + "x".repeat(1597), -1}};
        for (Object[] a : logins) {
            device.answerTo("SetAccessMode", (String) a[0], (String) a[1]);
            c.equal(a[2], tavis.LoginDeviceIF("4", "pw"), "login answered " + a[0] + ", " + ((String) a[1]).length()
                    + " bytes");
        }

        // Null strings and arrays are an empty answer; the command waits on for the real one.
        device.answerTo("SetAccessMode", "AN", " 1");
        tavis.ReceiveBytes(null, null, null);
        c.equal(0, tavis.LoginDeviceIF("3", "secret"), "an empty answer is waited past");
        tavis.ReceiveBytes("AN", "SetAccessMode", new byte[0]);
        c.equal(0, tavis.LoginDeviceIF("3", "secret"), "an empty array is waited past");

        // A callback's exception must not reach the caller, on whichever thread the command goes out.
        device.throwAfterNextSend(new IllegalStateException("line broken"));
        AtomicInteger fromOtherThread = new AtomicInteger(99);
        Thread t = new Thread(() -> fromOtherThread.set(tavis.LoginDeviceIF("3", "secret")));
        t.start();
        t.join();
        c.equal(0, fromOtherThread.get(), "the answer counts after a throwing send on another thread");

        // A fresh executor has no channel yet; a download that fails before it opens one must cope.
        tavis.SetupJNI("Keta B", "19200", NO_PORT);
        ExeResponse r = new Executor().ExecuteDownloadIF("/nonexistent/cfg", "/nonexistent/key", -1, -1);
        c.equal("-91 -1", r.iManagerError + " " + r.iDeviceError, "a download without configuration");
        c.equal(-1, tavis.LoginDeviceIF("3", "secret"), "login never granted under Keta B");
        c.finish();
    }
}
