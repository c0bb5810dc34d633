package quarnel.frontend;

import java.io.BufferedInputStream;
import java.io.ByteArrayOutputStream;
import java.io.Closeable;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.net.Socket;
import java.nio.channels.Channels;
import java.nio.channels.FileChannel;
import java.nio.channels.FileLock;
import java.nio.charset.StandardCharsets;
import java.nio.file.Paths;
import java.nio.file.StandardOpenOption;
import java.util.Arrays;
import java.util.Set;
import java.util.concurrent.ConcurrentHashMap;
import java.util.concurrent.CountDownLatch;
import java.util.concurrent.TimeUnit;
import java.util.function.Consumer;

import quarnel.firmwaredownload.TAVISInterface;

/**
 * The device line behind the library's callbacks: frames each command as a
 * telegram STX text ETX (STX, ETX and DLE inside the text travel as DLE and
 * the byte with bit 5 flipped), writes it, and hands every answer to
 * ReceiveBytes from its own reader thread. The link opens on first use, so
 * after CleanUpInterface or a device that dropped the connection the next
 * command reconnects.
 */
public final class TelegramLine implements TAVISInterface.DeviceLine {
    static final int STX = 0x02, ETX = 0x03, DLE = 0x10;
    /** Answer bytes of the "FA" the line gives when the link is lost under a waiting command. */
    public static final String LINK_LOST = " FFFE";
    /** Answer bytes of the "FA" for a command cut short by Ctrl-C. */
    public static final String INTERRUPTED = " FFFD";
    // What the library may still send after Ctrl-C: what ends a download cleanly.
    private static final Set<String> ENDING = Set.of("mFDabrtdwnld", "mSCsoftreset", "mFDlogwrite");
    static final long ENDING_WAIT_MS = 3000;
    static final int MAX_TELEGRAM = 1 << 16;

    /** Where the device is: "tcp:HOST:PORT" or "serial:PATH". */
    public record Address(String host, int port, String path) {
        public static Address parse(String text) {
            if (text.startsWith("serial:") && text.length() > 7) return new Address(null, 0, text.substring(7));
            if (!text.startsWith("tcp:")) throw new IllegalArgumentException("--device must be tcp:HOST:PORT or serial:PATH");
            int colon = text.lastIndexOf(':');
            try {
                int port = Integer.parseInt(text.substring(colon + 1));
                if (colon <= 4 || port < 1 || port > 65535) throw new NumberFormatException();
                return new Address(text.substring(4, colon), port, null);
            } catch (NumberFormatException e) {
                throw new IllegalArgumentException("bad TCP port in --device " + text);
            }
        }

        boolean serial() {
            return path != null;
        }
    }

    /** Told of every status the library reports. */
    public interface StatusListener {
        void status(String text, int percent);
    }

    private final Address address;
    private final TAVISInterface library;
    private final StatusListener listener;
    private final Object linkLock = new Object();
    private Closeable link;
    private OutputStream output;
    private Thread reader;
    private volatile String waitingFor;  // the command whose answer is outstanding
    private volatile long waitingSince;  // System.nanoTime() when it was sent
    private volatile long dataBytes;
    private volatile String lastError = "";
    private volatile long session = -1;  // from the second loader's answer
    private volatile boolean interrupted, hurried;
    private final Set<String> sentSinceInterrupt = ConcurrentHashMap.newKeySet();
    private final Set<String> answeredSinceInterrupt = ConcurrentHashMap.newKeySet();
    private volatile String asideFor;  // korvo-fe's own command, answered aside
    private volatile CountDownLatch asideAnswer;
    private volatile Consumer<String> onCommand = name -> { };
    private volatile SessionLog log = SessionLog.NONE;

    public TelegramLine(Address address, TAVISInterface library, StatusListener listener) {
        this.address = address;
        this.library = library;
        this.listener = listener;
    }

    /** Program data bytes sent so far (the parameter text of each package). */
    public long dataBytes() {
        return dataBytes;
    }

    public String lastError() {
        return lastError;
    }

    /** The command whose answer the library waits for, or null. */
    public String waitingFor() {
        return waitingFor;
    }

    /** Milliseconds the outstanding command has waited (0 when none). */
    public long waitedMs() {
        return waitingFor == null ? 0 : (System.nanoTime() - waitingSince) / 1_000_000;
    }

    /** The second loader's session of this download, -1 before it answered. */
    public long session() {
        return session;
    }

    /** A new download starts: no session yet (a first stage always uses session 0). */
    public void startDownload(long session) {
        this.session = session;
        interrupted = false;
        hurried = false;
        sentSinceInterrupt.clear();
        answeredSinceInterrupt.clear();
    }

    /**
     * The user stopped the download: the command the library waits for gets
     * the error answer INTERRUPTED at once, and from now on only the commands
     * that end a download reach the device; every other one is answered the
     * same way without being sent. The library then aborts, reboots the
     * device and cleans up as after any failure.
     */
    public void interrupt() {
        log.note(hurried ? "Ctrl-C again: no more waiting for the device" : "Ctrl-C: the download is stopped");
        interrupted = true;
        String name = waitingFor;
        if (name != null) answerLater(name, 0);
    }

    /** Stopped again: no more waiting for the device, even for the ending commands. */
    public void hurry() {
        hurried = true;
        interrupt();
    }

    public boolean interrupted() {
        return interrupted;
    }

    /** Whether the library sent `command` after the interruption. */
    public boolean sentSinceInterrupt(String command) {
        return sentSinceInterrupt.contains(command);
    }

    /** Whether the device answered `command` (positively) after the interruption. */
    public boolean answeredSinceInterrupt(String command) {
        return answeredSinceInterrupt.contains(command);
    }

    // The error answer for the command `name`, after `delayMs` unless the
    // device answered it first; from a thread of its own, as every answer
    // must come.
    private void answerLater(String name, long delayMs) {
        long sent = waitingSince;
        byte[] bytes = INTERRUPTED.getBytes(StandardCharsets.ISO_8859_1);
        Thread t = new Thread(() -> {
            try {
                Thread.sleep(delayMs);
            } catch (InterruptedException e) {
                return;
            }
            if (delayMs > 0 && (!name.equals(waitingFor) || waitingSince != sent)) return;
            waitingFor = null;
            log.note("interrupted: korvo-fe answers " + name + " for the device with sFA" + INTERRUPTED);
            library.ReceiveBytes("FA", name, bytes);
        }, "korvo-fe-interrupt");
        t.setDaemon(true);
        t.start();
    }

    /** Where every telegram, status and event of the line is traced. */
    public void log(SessionLog log) {
        this.log = log;
    }

    /** Told the name of every command the library sends. */
    public void onCommand(Consumer<String> listener) {
        onCommand = listener;
    }

    /**
     * Sends a command of korvo-fe's own beside the library's, whose answer is
     * not handed to the library; true when the device answered it within
     * `timeoutMs` (0: do not wait).
     */
    public boolean sendAside(String method, String parameters, long timeoutMs) throws InterruptedException {
        CountDownLatch answered = new CountDownLatch(1);
        asideAnswer = answered;
        asideFor = timeoutMs > 0 ? method : null;
        byte[] telegram = frame("sMN", method, parameters.getBytes(StandardCharsets.ISO_8859_1));
        synchronized (linkLock) {
            try {
                if (link == null) open();
                log.sent("sMN", method, parameters.getBytes(StandardCharsets.ISO_8859_1));
                output.write(telegram);
                output.flush();
            } catch (IOException e) {
                log.note("korvo-fe's own " + method + " was not sent: " + e.getMessage());
                return false;
            }
        }
        return timeoutMs > 0 && answered.await(timeoutMs, TimeUnit.MILLISECONDS);
    }

    @Override
    public int sendCommandMN(String method, byte[] parameters) {
        if (method.equals("mFDprgdata")) dataBytes += parameters.length;
        // A rebooting device does not answer.
        return send("sMN", method, parameters, !method.equals("mSCsoftreset"));
    }

    @Override
    public int sendCommandRN(String variable) {
        return send("sRN", variable, new byte[0], true);
    }

    @Override
    public int sendCommandEN(String event, byte[] parameters) {
        return send("sEN", event, parameters, true);
    }

    @Override
    public int updateStatus(String text, int percent) {
        log.status(text, percent);
        if (listener != null) listener.status(text, percent);
        return 0;
    }

    /** The library takes the line for itself (its own COM port): let it go. */
    @Override
    public int cleanUpInterface() {
        close();
        return 0;
    }

    public void close() {
        synchronized (linkLock) {
            closeLink();
        }
    }

    static byte[] frame(String kind, String name, byte[] parameters) {
        byte[] head = (kind + " " + name).getBytes(StandardCharsets.ISO_8859_1);
        int escapes = 0;
        for (byte[] part : new byte[][] {head, parameters}) {
            for (byte b : part) if (b == STX || b == ETX || b == DLE) escapes++;
        }
        byte[] out = new byte[head.length + parameters.length + escapes + 2];
        int at = 0;
        out[at++] = STX;
        for (byte[] part : new byte[][] {head, parameters}) {
            for (byte b : part) {
                if (b == STX || b == ETX || b == DLE) {
                    out[at++] = DLE;
                    b ^= 0x20;
                }
                out[at++] = b;
            }
        }
        out[at] = ETX;
        return out;
    }

    private int send(String kind, String name, byte[] parameters, boolean awaited) {
        byte[] telegram = frame(kind, name, parameters);
        onCommand.accept(name);
        if (interrupted) {
            if (!ENDING.contains(name)) {
                log.note("interrupted: " + name + " is not sent");
                if (awaited) answerLater(name, 0);
                return -1;
            }
            sentSinceInterrupt.add(name);
        }
        synchronized (linkLock) {
            try {
                if (link == null) open();
                waitingSince = System.nanoTime();
                waitingFor = awaited ? name : null;
                // Before the write: the answer may be traced before it returns.
                log.sent(kind, name, parameters);
                output.write(telegram);
                output.flush();
                // After Ctrl-C a device that fell silent must not hold the
                // user for the library's whole time-out of each ending command.
                if (interrupted && awaited) answerLater(name, hurried ? 0 : ENDING_WAIT_MS);
                return 0;
            } catch (IOException e) {
                lastError = "the device line failed: " + e.getMessage();
                log.note(lastError);
                closeLink();
                // The library then waits out its time-out: no answer is coming.
                waitingFor = null;
                return -1;
            }
        }
    }

    private void open() throws IOException {
        InputStream input;
        if (address.serial()) {
            // Channels, not streams: closing one wakes the reader blocked on the
            // terminal. Two of them, since one channel's read and write share a lock.
            FileChannel in = FileChannel.open(Paths.get(address.path()), StandardOpenOption.READ);
            FileChannel out = FileChannel.open(Paths.get(address.path()), StandardOpenOption.WRITE);
            if (!lock(out)) {
                in.close();
                out.close();
                throw new IOException(address.path() + " is in use by another program");
            }
            input = Channels.newInputStream(in);
            output = Channels.newOutputStream(out);
            link = () -> {
                try (in; out) {
                    // both closed
                }
            };
        } else {
            Socket socket = new Socket();
            socket.setTcpNoDelay(true);
            socket.connect(new InetSocketAddress(address.host(), address.port()), 5000);
            input = socket.getInputStream();
            output = socket.getOutputStream();
            link = socket;
        }
        log.note("line " + (address.serial() ? "serial:" + address.path() : "tcp:" + address.host() + ":" + address.port())
                 + " opened");
        Closeable mine = link;
        InputStream in = new BufferedInputStream(input, 1 << 16);
        reader = new Thread(() -> read(in, mine), "korvo-fe-reader");
        reader.setDaemon(true);
        reader.start();
    }

    // The lock other programs (and korvo-fe devices) see on the line; false
    // when another program holds it. Where a device takes no lock, as
    // Windows' COM ports (which are exclusive anyway), there is none.
    private static boolean lock(FileChannel channel) {
        try {
            FileLock lock = channel.tryLock();
            return lock != null;
        } catch (IOException | RuntimeException e) {
            return true;
        }
    }

    private void closeLink() {
        if (link == null) return;
        log.note("line closed");
        try {
            link.close();
        } catch (IOException e) {
            // nothing more to do with a line that is going
        }
        link = null;
        output = null;
    }

    private void read(InputStream in, Closeable mine) {
        ByteArrayOutputStream text = new ByteArrayOutputStream();
        boolean inside = false, escaped = false;
        try {
            for (int b; (b = in.read()) >= 0;) {
                if (b == STX) {
                    text.reset();
                    inside = true;
                    escaped = false;
                } else if (!inside) {
                    continue;
                } else if (b == ETX) {
                    inside = false;
                    deliver(text.toByteArray());
                } else if (b == DLE && !escaped) {
                    escaped = true;
                } else if (text.size() < MAX_TELEGRAM) {
                    text.write(escaped ? b ^ 0x20 : b);
                    escaped = false;
                }
            }
        } catch (IOException e) {
            // the link closed; handled below
        }
        synchronized (linkLock) {
            if (link == mine) closeLink();
        }
        String name = waitingFor;
        if (name != null && link == null) {
            waitingFor = null;
            lastError = "the device closed the connection";
            log.note(lastError + ": korvo-fe answers " + name + " for the device with sFA" + LINK_LOST);
            library.ReceiveBytes("FA", name, LINK_LOST.getBytes(StandardCharsets.ISO_8859_1));
        }
    }

    // "sAN name values", "sRA name value", "sEA name values" or "sFA code".
    private void deliver(byte[] telegram) {
        log.telegram("<<", "", telegram);
        if (telegram.length < 4 || telegram[0] != 's' || telegram[3] != ' ') return;
        String kind = new String(telegram, 1, 2, StandardCharsets.ISO_8859_1);
        String name;
        byte[] values;
        if (kind.equals("FA")) {
            name = waitingFor == null ? "" : waitingFor;
            values = Arrays.copyOfRange(telegram, 3, telegram.length);
        } else {
            int end = 4;
            while (end < telegram.length && telegram[end] != ' ') end++;
            name = new String(telegram, 4, end - 4, StandardCharsets.ISO_8859_1);
            values = Arrays.copyOfRange(telegram, end, telegram.length);
        }
        if (kind.equals("AN") && name.equals(asideFor)) {
            asideFor = null;
            asideAnswer.countDown();
            return;
        }
        if (kind.equals("AN")) note(name, values);
        if (kind.equals("AN") && interrupted) answeredSinceInterrupt.add(name);
        waitingFor = null;
        library.ReceiveBytes(kind, name, values);
    }

    // The session korvo-fe needs to abort a download itself.
    private void note(String name, byte[] values) {
        if (!name.equals("mFDsrt2ndstgldr")) return;
        try {
            session = Long.parseLong(new String(values, StandardCharsets.ISO_8859_1).trim().split(" ")[0], 16);
        } catch (NumberFormatException e) {
            // not a number: the library fails the download itself
        }
    }
}
