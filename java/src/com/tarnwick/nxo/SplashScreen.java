package com.tarnwick.nxo;

import java.util.Timer;
import java.util.TimerTask;

/**
 * The splash shown while the application starts: the JDK's splash when the
 * runtime shows one, otherwise the launcher's own window.
 */
public final class SplashScreen {

    static {
        // Unbound natives make the native splash report the link error.
        Handler.loadNatives(SplashScreen.class);
    }

    private static SplashScreen self;
    private static Timer autoCloseTimer;
    private static TimerTask autoCloseTask;

    /** The JDK's java.awt.SplashScreen when it shows the splash, else null. */
    private Object awtSplash;

    public SplashScreen() {
    }

    /** The splash, or null when none is showing. */
    public static SplashScreen getSplashScreen() {
        if (self != null) {
            return self;
        }
        try {
            Class<?> type = Class.forName("java.awt.SplashScreen", true, ClassLoader.getSystemClassLoader());
            Object awt = type.getMethod("getSplashScreen").invoke(null);
            if (awt != null) {
                SplashScreen splash = new SplashScreen();
                splash.awtSplash = awt;
                self = splash;
                return splash;
            }
        } catch (Throwable t) {
            // No AWT splash (headless, or no splash library): the launcher's own window.
        }
        self = nativeGetSplashScreen();
        return self;
    }

    /**
     * Closes the splash after the given milliseconds: 0 closes at once, a
     * negative value only cancels a pending close.
     */
    public synchronized void autoClose(int milliseconds) {
        if (awtSplash == null) {
            nativeAutoClose(milliseconds);
            return;
        }
        if (milliseconds > 0) {
            if (autoCloseTask != null) {
                autoCloseTask.cancel();
            }
            if (autoCloseTimer == null) {
                autoCloseTimer = new Timer(true);
            }
            autoCloseTask = new TimerTask() {
                @Override
                public void run() {
                    close();
                }
            };
            autoCloseTimer.schedule(autoCloseTask, milliseconds);
        } else if (milliseconds == 0) {
            close();
        } else {
            cancelTimer();
        }
    }

    public synchronized void close() {
        if (awtSplash == null) {
            nativeClose();
            return;
        }
        cancelTimer();
        try {
            awtSplash.getClass().getMethod("close").invoke(awtSplash);
        } catch (Throwable t) {
            // Already closed, or the runtime refused: nothing left to close.
        }
    }

    private static void cancelTimer() {
        if (autoCloseTimer != null) {
            autoCloseTimer.cancel();
        }
        autoCloseTimer = null;
        autoCloseTask = null;
    }

    private native void nativeAutoClose(int milliseconds);

    private native void nativeClose();

    private static native SplashScreen nativeGetSplashScreen();
}
