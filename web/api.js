// The control API as the page uses it: requests with the token where the server asks for one,
// and the events of every box over a WebSocket that is opened again after a drop.

const kTokenKey = "dpx20remote.token";
const kBase = "/api/v1";

// The token is kept for this tab only: never in a URL, a cookie or local storage.
export const token = {
  get: () => sessionStorage.getItem(kTokenKey) || "",
  set: (value) => sessionStorage.setItem(kTokenKey, value.trim()),
  forget: () => sessionStorage.removeItem(kTokenKey),
};

// Thrown when the server asks for the token (401): the page asks the operator for it.
export class TokenNeeded extends Error {}

// One request below /api/v1. Resolves to {status, body}: the JSON answer, or {error} when the
// server could not be reached or did not answer with JSON (status 0).
export async function request(method, path, body) {
  const headers = {};
  if (token.get()) headers.Authorization = `Bearer ${token.get()}`;
  if (body !== undefined) headers["Content-Type"] = "application/json";
  let answer;
  try {
    answer = await fetch(kBase + path, {
      method, headers, cache: "no-store", body: body === undefined ? undefined : JSON.stringify(body),
    });
  } catch {
    return { status: 0, body: { ok: false, error: "the server cannot be reached" } };
  }
  let json;
  try {
    json = await answer.json();
  } catch {
    json = { ok: false, error: `answer ${answer.status} without JSON` };
  }
  if (answer.status === 401) throw new TokenNeeded(json.error);
  return { status: answer.status, body: json };
}

// GET /events: each message to onEvent, the socket's liveness to onLive (true from its first
// message, the state). A dropped socket is opened again, sooner at first, then every 2 s; one
// that closes before its first message may have been refused for the token, which a request
// tells (onTokenNeeded).
export class Events {
  constructor({ onEvent, onLive, onTokenNeeded }) {
    Object.assign(this, { onEvent, onLive, onTokenNeeded, tries: 0, socket: null });
  }

  open() {
    const scheme = location.protocol === "https:" ? "wss" : "ws";
    const protocols = ["dpx20remote"];
    if (token.get()) protocols.push(`bearer.${token.get()}`);
    const socket = new WebSocket(`${scheme}://${location.host}${kBase}/events`, protocols);
    let heard = false;
    socket.onmessage = (message) => {
      if (!heard) {
        heard = true;
        this.tries = 0;
        this.onLive(true);
      }
      this.onEvent(JSON.parse(message.data));
    };
    socket.onclose = () => {
      if (this.socket !== socket) return;
      this.socket = null;
      this.onLive(false);
      this.again(heard);
    };
    this.socket = socket;
  }

  // Opens the socket again after a drop; after a refusal, only once the token is settled.
  async again(heard) {
    if (!heard) {
      try {
        await request("GET", "/boxes");
      } catch (e) {
        if (e instanceof TokenNeeded) return this.onTokenNeeded(e.message);
      }
    }
    const wait = Math.min(2000, 100 * 2 ** this.tries++);
    setTimeout(() => this.open(), wait);
  }
}
